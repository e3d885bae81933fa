// IconTesterController and DataFakerController: the shared page on their own files, with their
// own codes; neither listens to any notification. The icon tester logs its saves and warns when
// it is left switched on; the data faker logs the loading of its specifiers and leaves silently.
#include "platform/foundation/log.h"
#include "prefs/page_class.h"

namespace vantrel::prefs {
namespace {

struct IconTesterPage : PageHooks {
    static constexpr PageInfo info{PreferenceFile::IconTester, "IconTester", iconTesterCode};

    static void saved(Saved saved) {
        NSLog(saved == Saved::Settings ? "Icon Tester - Settings Updated!" : "Icon Tester - Defaults Saved!");
    }

    static void leave(id self) {
        NSLog("viewWillDisappear");
        // The tester stays on when the page is left; the user should know icons will not hide.
        if (boolValue(platform::lookup(settingsPage(self)->_settings, keyName(IconTesterKey::enabletester))))
            platform::UIAlertView::create(
                "Warning:", "Icon Tester is still Enabled.  Whilst this mode is active, the hiding of icons will not work.",
                nullptr, "OK")
                ->show();
    }
};

struct DataFakerPage : PageHooks {
    static constexpr PageInfo info{PreferenceFile::DataFaker, "DataFaker", dataFakerCode};

    static void specifiersLoading() { NSLog("specifiers"); }
    static void leave(id) {}  // answered, so the framework's own is not reached
};

}  // namespace

void registerIconTesterPage(Class cls) { registerPage<IconTesterPage>(cls); }
void registerDataFakerPage(Class cls) { registerPage<DataFakerPage>(cls); }

}  // namespace vantrel::prefs
