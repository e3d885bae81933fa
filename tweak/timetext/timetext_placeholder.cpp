// Placeholder until the clock modes land.
#include "tweak/timetext/timetext.h"

namespace vantrel::tweak {
IMP orig_SBStatusBarStateAggregator__updateTimeItems;
IMP orig_SBStatusBarStateAggregator__restartTimeItemTimer;
IMP orig_SBStatusBarStateAggregator__resetTimeItemFormatter;
void SBStatusBarStateAggregator__updateTimeItems(id self, SEL _cmd) {
    callImp<void>(orig_SBStatusBarStateAggregator__updateTimeItems, self, _cmd);
}
void SBStatusBarStateAggregator__restartTimeItemTimer(id self, SEL _cmd) {
    callImp<void>(orig_SBStatusBarStateAggregator__restartTimeItemTimer, self, _cmd);
}
void SBStatusBarStateAggregator__resetTimeItemFormatter(id self, SEL _cmd) {
    callImp<void>(orig_SBStatusBarStateAggregator__resetTimeItemFormatter, self, _cmd);
}
void notifySettings_(id, SEL, const platform::Dictionary*) {}
void carrierChangeAlert(id, SEL) {}
void forceUpdate_(id, SEL, int) {}
void refreshTimer(id, SEL) {}
std::u16string randomChar_(id, SEL, std::string) { return u""; }
void animateText(id, SEL) {}
void reverseAnimateText(id, SEL) {}
void shuffle_array_(id, SEL, int, const std::vector<std::u16string>*) {}
void reShuffle_(id, SEL, platform::Timer*) {}
void setRandomSource(uint32_t (*)()) {}
}  // namespace vantrel::tweak
