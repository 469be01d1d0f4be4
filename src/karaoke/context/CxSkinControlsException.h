#pragma once
// The program's exception: carries an English message meant for the user.
// Thrown only on the user-interface thread (control setters, the karaoke
// entry points); never across a thread or a C export.
#include <exception>
#include <string>

class CxSkinControlsException : public std::exception {
  public:
    explicit CxSkinControlsException(std::wstring message);

    const std::wstring& Message() const noexcept { return message_; }

    // Copies at most maxChars - 1 characters and a terminating NUL into
    // buffer; returns false when there is no room at all.
    bool GetErrorMessage(wchar_t* buffer, unsigned maxChars) const noexcept;

    const char* what() const noexcept override { return utf8_.c_str(); }

  private:
    std::wstring message_;
    std::string utf8_;
};
