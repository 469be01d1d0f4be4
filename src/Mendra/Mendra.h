#pragma once
// The device effect library's exports: switch the karaoke sound card's own
// effect off for a performance and back on afterwards, read the driver and
// control-panel versions, read and set the recording level. C linkage;
// every call first empties the message store and every failure adds one
// line to it, which DumpMSG copies out.
#define MENDRA_EXPORT extern "C" __attribute__((visibility("default")))

MENDRA_EXPORT int ConfLibInit();
MENDRA_EXPORT int ConfLibUnInit();
MENDRA_EXPORT int DisabletKaraokeEffect();
MENDRA_EXPORT int RecoverKaraokeEffect();
// level: 0 to 100.
MENDRA_EXPORT int GetRecordVolumeScalar(int* level);
MENDRA_EXPORT int SetRecordVolumeScalar(int level);
MENDRA_EXPORT int GetVersions(char* driverVersion, int driverSize, char* panelVersion,
                              int panelSize);
// size in wide characters; the text is always terminated.
MENDRA_EXPORT int DumpMSG(wchar_t* destination, int size);
