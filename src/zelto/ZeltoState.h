#pragma once
// The settings a generic card has no hardware for (the karaoke, microphone
// effect, environment and sample-rate settings, and the monitor and mix
// switches of a card without those controls), kept per user in
// "zelto-state.ini" beside the registry store.
#include <string>

namespace zelto {

class ZeltoState {
  public:
    // The user's state file.
    static std::wstring DefaultPath();

    explicit ZeltoState(std::wstring path = DefaultPath());

    // The value, or its default when the file or key is absent.
    int Get(const wchar_t* key) const;
    bool Set(const wchar_t* key, int value);
    // The ALSA card id chosen as the karaoke card; empty for the first card.
    std::wstring KaraokeCard() const;

    static int Default(const wchar_t* key);

  private:
    std::wstring path_;
};

}  // namespace zelto
