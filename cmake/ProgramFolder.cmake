# Lays out the assets of the program folder beside the programs under
# build/bin, and installs the whole folder under <prefix>/lib/vokari with
# the programs linked into <prefix>/bin.
file(MAKE_DIRECTORY ${VOKARI_BIN_DIR}/Driver ${VOKARI_BIN_DIR}/Skin/Vokari ${VOKARI_BIN_DIR}/lang)
add_custom_target(program_folder ALL
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${PROJECT_SOURCE_DIR}/skin/Vokari ${VOKARI_BIN_DIR}/Skin/Vokari
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${PROJECT_SOURCE_DIR}/lang ${VOKARI_BIN_DIR}/lang
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${PROJECT_SOURCE_DIR}/skin/Player_Setting.ini ${VOKARI_BIN_DIR}/Player_Setting.ini
  COMMENT "Laying out the program folder")

include(GNUInstallDirs)
set(VOKARI_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/vokari)
install(DIRECTORY ${VOKARI_BIN_DIR}/ DESTINATION ${VOKARI_INSTALL_DIR} USE_SOURCE_PERMISSIONS)
foreach(program Vokari Pokstep vokari-cli)
  install(CODE "
    file(MAKE_DIRECTORY \$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR})
    file(CREATE_LINK ../${VOKARI_INSTALL_DIR}/${program}
         \$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${program} SYMBOLIC)")
endforeach()
