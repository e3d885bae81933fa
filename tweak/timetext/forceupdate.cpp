#include "shared/settings.h"
#include "tweak/core/services.h"
#include "tweak/core/startup.h"
#include "tweak/core/state.h"
#include "tweak/timetext/timetext.h"

namespace vantrel::tweak {

namespace {

void send(id self, const char* selector) { msgSend<void>(self, sel(selector)); }

void pushItem(id self, int item) {
    msgSend<void>(self, sel("updateStatusBarItem:"), item);
    msgSend<void>(self, sel("_notifyItemChanged:"), item);
}

}  // namespace

void forceUpdate_(id self, SEL, int code) {
    prefs = readPreferences(PreferenceFile::Main);
    std::optional<std::string> customCarrier = readKey<MainKey::carrierText>(prefs);
    prefs.reset();
    // No sender makes negative codes, and no item has one.
    if (code < 0 || code > 40) return;

    if (code <= 25) {
        const ItemRow* row = itemRow(code);
        if (code == 25)
            msgSend<void>(self, sel("setShowsSyncActivityIndicator:"), false);
        else if (row && row->updateSelector)
            send(self, row->updateSelector);
        pushItem(self, code);
        return;
    }
    switch (code) {
    case 26: clockModeStep(self, ClockEntry::Forced); break;
    case 27: send(self, "_updateServiceItem"); break;
    case 29:
        carrierText = customCarrier;
        send(self, "_updateServiceItem");
        pushItem(self, 4);  // the carrier text is drawn by the service item
        break;
    case 40:
        send(self, "_updateTetheringState");
        send(self, "_updateDataNetworkItem");
        break;
    default:  // 28 and 30 to 39 only reload the preferences
        break;
    }
}

}  // namespace vantrel::tweak
