// The main page's dialogs: the three text dialogs, the one delegate operation that handles every
// dialog's buttons by tag, the respring commands, the thank-you dialog with its music, and the
// links to the developer's pages.
#include "platform/foundation/log.h"
#include "platform/system/cfversion.h"
#include "platform/system/shell.h"
#include "platform/uikit/application.h"
#include "prefs/page.h"

namespace vantrel::prefs {
namespace {

using platform::UIAlertView;
using AlertField = std::shared_ptr<UIAlertView> VantrelListController::*;

// A text dialog: its key's schema row names the action opening it and the code its Save posts.
struct TextDialog {
    DialogTag tag;
    AlertField field;
    const char* title;
    MainKey key;
};
constexpr TextDialog kCarrierDialog{CarrierTag, &VantrelListController::carrierAlertView, "Change Carrier Name",
                                    MainKey::carrierText};
constexpr TextDialog kTimeDialog{TimeTag, &VantrelListController::timeAlertView, "Custom Time String", MainKey::timeText};
constexpr TextDialog kReverseDialog{ReverseTag, &VantrelListController::reverseStringView, "Change Second Animted Clock String",
                                    MainKey::reverseString};

const TextDialog* textDialogForTag(long tag) {
    for (const TextDialog* d : {&kCarrierDialog, &kTimeDialog, &kReverseDialog})
        if (d->tag == tag) return d;
    return nullptr;
}

constexpr char kDeveloperHandle[] = "quennickdev";
constexpr char kDonateURL[] = "https://pay.quennick.example/donate?to=quennickdev";
constexpr char kFeedbackURL[] = "https://quennick.example/vantrel/feedback";
constexpr char kTwitterAppURL[] = "twitter://";
constexpr char kTwitterWebProfileURL[] = "https://twitter.quennick.example/quennickdev";
constexpr char kFacebookURL[] = "https://facebook.quennick.example/quennickdev";

void warn(const char* message) { UIAlertView::create("Warning!", message, nullptr, "OK")->show(); }

void openTextDialog(id self, const TextDialog& dialog) {
    auto* page = mainPage(self);
    auto& alert = page->*dialog.field;
    if (!alert) alert = UIAlertView::create(dialog.title, "", &page->alertDelegate, "Cancel", {"Save"});
    if (!alert->textField()) alert->addTextFieldWithValue("", "");
    // What was typed and cancelled last time gives way to what is stored.
    const Value* stored = platform::lookup(page->_settings, keyName(dialog.key));
    alert->textField()->text = stored && stored->string() ? *stored->string() : "";
    alert->setTag(dialog.tag);
    alert->show();
    alert->textField()->becomeFirstResponder();
}

void carrierText_(id self, SEL, id) { openTextDialog(self, kCarrierDialog); }

void timeText_(id self, SEL, id) {
    if (isAnimationRunning) {
        warn(
            "You cannot change this setting until 'Animated Custom Text' has been Disabled AND it has finished it's last "
            "animation loop.");
        return;
    }
    openTextDialog(self, kTimeDialog);
}

void reverseString_(id self, SEL, id) {
    if (isAnimationRunning) {
        warn(
            "You cannot change this setting until 'Animated Custom Text' has been Enabled AND it has finished it's last "
            "animation loop.");
        return;
    }
    openTextDialog(self, kReverseDialog);
}

void restartSpringBoard() {
    platform::system("killall -9 lsd");
    platform::system(platform::kCFCoreFoundationVersionNumber() > 700.0 ? "killall backboardd" : "killall SpringBoard");
}

void alertView_clickedButtonAtIndex_(id self, SEL, UIAlertView* alertView, long buttonIndex) {
    if (!alertView) return;
    auto* page = mainPage(self);
    long tag = alertView->tag();
    NSLog("AlertView: %li, Button Index: %i", tag, static_cast<int>(buttonIndex));
    if (const TextDialog* dialog = textDialogForTag(tag); dialog && buttonIndex == 1) {
        const platform::UITextField* field = alertView->textField();
        // An empty text removes the key: readers fall back to their defaults.
        setPageValue(page, keyName(dialog->key), field && !field->text.empty() ? PSValue(Value(field->text)) : std::nullopt);
        // A text that is not in the file is not announced; it stays pending for the next save.
        if (msgSend<bool>(self, S("writeSettings"))) {
            if (auto code = keySchema(dialog->key).dialogCode)
                msgSend<void>(self, S("notifySettings:"), Dictionary{{kItemToggledKey, *code}});
        }
    } else if (tag == RespringTag && buttonIndex == 1) {
        restartSpringBoard();
    } else if (tag == ThanksTag && page->audioPlayer) {
        page->audioPlayer->setCurrentTime(0.0);
        page->audioPlayer->stop();
    }
    msgSend<bool>(self, S("sendSettings"));
}

void Quennick_(id self, SEL, id) {
    auto* page = mainPage(self);
    auto thanks = UIAlertView::create("Thanks!",
                                      "Thank you for purchasing this tweak and supporting me.\n\n"
                                      "Vantrel by Quennick, quennick.example\n\n"
                                      "Audio: 'Status Bar Shuffle'\n"
                                      "composed and synthesised by Quennick\n"
                                      "for Vantrel",
                                      &page->alertDelegate, "OK");
    thanks->setTag(ThanksTag);
    thanks->show();
    if (page->audioPlayer) page->audioPlayer->play();
}

void open(const std::string& url) { platform::UIApplication::sharedApplication().openURL(url); }

void donate_(id, SEL, id) { open(kDonateURL); }
void sendFeedback_(id, SEL, id) { open(kFeedbackURL); }
void visitFacebook_(id, SEL, id) { open(kFacebookURL); }

void visitTwitter_(id, SEL, id) {
    auto& app = platform::UIApplication::sharedApplication();
    // The bare scheme only opens when the Twitter app is installed.
    if (app.openURL(kTwitterAppURL))
        app.openURL(std::string(kTwitterAppURL) + "user?screen_name=" + kDeveloperHandle);
    else
        app.openURL(kTwitterWebProfileURL);
}

}  // namespace

void registerMainPageDialogs(Class cls) {
    using runtime::imp;
    class_addMethod(cls, S("donate:"), imp<void, id>(donate_), "v@:@");
    class_addMethod(cls, S("sendFeedback:"), imp<void, id>(sendFeedback_), "v@:@");
    class_addMethod(cls, S("alertView:clickedButtonAtIndex:"), imp<void, UIAlertView*, long>(alertView_clickedButtonAtIndex_),
                    "v@:@q");
    class_addMethod(cls, S(keySchema(kCarrierDialog.key).dialog), imp<void, id>(carrierText_), "v@:@");
    class_addMethod(cls, S(keySchema(kTimeDialog.key).dialog), imp<void, id>(timeText_), "v@:@");
    class_addMethod(cls, S(keySchema(kReverseDialog.key).dialog), imp<void, id>(reverseString_), "v@:@");
    class_addMethod(cls, S("visitTwitter:"), imp<void, id>(visitTwitter_), "v@:@");
    class_addMethod(cls, S("visitFacebook:"), imp<void, id>(visitFacebook_), "v@:@");
    class_addMethod(cls, S("Quennick:"), imp<void, id>(Quennick_), "v@:@");
}

}  // namespace vantrel::prefs
