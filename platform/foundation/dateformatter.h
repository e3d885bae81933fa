// NSDateFormatter over ICU's SimpleDateFormat: one formatter kept for its life, its pattern
// applied in place (applying a pattern costs far less than a new formatter). Patterns are
// UTF-16 and may hold unpaired surrogate halves; those render as U+FFFD at most. Text inside
// single quotes is literal, '' is a quote. Not thread-safe: owned by one thread.
#pragma once

#include <memory>
#include <string>

namespace platform {

class DateFormatter {
public:
    DateFormatter();
    ~DateFormatter();
    DateFormatter(const DateFormatter&) = delete;
    DateFormatter& operator=(const DateFormatter&) = delete;

    void setDateFormat(const std::u16string& pattern);
    void setDateFormat(const std::string& utf8Pattern);
    const std::u16string& dateFormat() const { return pattern_; }
    std::string dateFormatUtf8() const;

    // The time (seconds since the Unix epoch) in the current pattern, as UTF-8.
    std::string stringFromDate(double unixSeconds) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::u16string pattern_;
};

std::u16string utf8ToUtf16(const std::string& s);
std::string utf16ToUtf8(const std::u16string& s);  // unpaired halves become U+FFFD

}  // namespace platform
