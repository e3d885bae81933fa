#include "platform/foundation/dateformatter.h"

#include <unicode/smpdtfmt.h>
#include <unicode/unistr.h>

#include "platform/foundation/log.h"

namespace platform {

struct DateFormatter::Impl {
    std::unique_ptr<icu::SimpleDateFormat> format;
};

DateFormatter::DateFormatter() : impl_(std::make_unique<Impl>()) {
    UErrorCode status = U_ZERO_ERROR;
    impl_->format = std::make_unique<icu::SimpleDateFormat>(icu::UnicodeString(u"HH:mm"), icu::Locale("en_US"), status);
    if (U_FAILURE(status)) {
        NSLog("Date formatter unavailable: %s", u_errorName(status));
        impl_->format.reset();
    }
    pattern_ = u"HH:mm";
}

DateFormatter::~DateFormatter() = default;

void DateFormatter::setDateFormat(const std::u16string& pattern) {
    pattern_ = pattern;
    if (impl_->format) impl_->format->applyPattern(icu::UnicodeString(pattern.data(), static_cast<int32_t>(pattern.size())));
}

void DateFormatter::setDateFormat(const std::string& utf8Pattern) { setDateFormat(utf8ToUtf16(utf8Pattern)); }

std::string DateFormatter::dateFormatUtf8() const { return utf16ToUtf8(pattern_); }

std::string DateFormatter::stringFromDate(double unixSeconds) const {
    if (!impl_->format) return std::string();
    icu::UnicodeString out;
    impl_->format->format(static_cast<UDate>(unixSeconds * 1000.0), out);
    std::string utf8;
    out.toUTF8String(utf8);  // unpaired surrogates come out as U+FFFD
    return utf8;
}

std::u16string utf8ToUtf16(const std::string& s) {
    icu::UnicodeString u = icu::UnicodeString::fromUTF8(s);
    return std::u16string(u.getBuffer(), static_cast<size_t>(u.length()));
}

std::string utf16ToUtf8(const std::u16string& s) {
    std::string out;
    icu::UnicodeString(s.data(), static_cast<int32_t>(s.size())).toUTF8String(out);
    return out;
}

}  // namespace platform
