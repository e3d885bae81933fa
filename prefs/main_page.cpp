// VantrelListController: the root page. It keeps the main settings for its life, writes them
// after every change, announces the changes the tweak must act on once they are in the file,
// follows the tweak's animation state and asks for a respring when the Notification Centre
// setting has changed.
#include "platform/foundation/log.h"
#include "prefs/page.h"

namespace vantrel::prefs {

bool isAnimationRunning = false;

namespace {

const PageInfo kMainInfo{PreferenceFile::Main, "Vantrel", mainPageCode};
constexpr char kMusicPath[] = "/Library/PreferenceBundles/Vantrel.bundle/chiptune.m4a";

id initForContentSize_(id self, SEL sel, platform::CGSize size) {
    id created = callSuper<id>(self, sel, size);
    if (!created) return nullptr;
    auto* page = mainPage(created);
    loadSettings(page, kMainInfo);
    page->timeinNC = static_cast<int32_t>(integerValue(platform::lookup(page->_settings, keyName(MainKey::ncstatus))));
    msgSend<bool>(created, S("writeSettings"));
    // Each page subscribes again; harmless, the callback only sets one flag.
    subscribe(kAnimationChangedNotification, animationChangedCallback);
    msgSend<void>(created, S("loadMusic"));
    return created;
}

platform::PSSpecifierList specifiers(id self, SEL) {
    auto* page = mainPage(self);
    if (page->_specifiers.empty())
        page->_specifiers = msgSend<platform::PSSpecifierList>(self, S("loadSpecifiersFromPlistName:target:"),
                                                               std::string(kMainInfo.specifierFile), self);
    return page->_specifiers;
}

PSValue enabled(id self, SEL) {
    const Value* v = platform::lookup(mainPage(self)->_settings, keyName(MainKey::enabled));
    return v ? PSValue(*v) : std::nullopt;
}

void setEnabled_(id self, SEL, PSValue value) {
    auto* page = mainPage(self);
    setPageValue(page, keyName(MainKey::enabled), std::move(value));
    msgSend<bool>(self, S("sendSettings"));
}

void notifySettings_(id, SEL, Dictionary userInfo) { notifySettings(userInfo); }

// The truth of the stored "ncstatus" against its value when the page was created.
bool ncstatusChanged(const VantrelListController* page) {
    int32_t now = boolValue(platform::lookup(page->_settings, keyName(MainKey::ncstatus))) ? 1 : 0;
    return now != page->timeinNC;
}

void setPreferenceValue_specifier_(id self, SEL, PSValue value, PSSpecifier* specifier) {
    auto* page = mainPage(self);
    auto key = storeValue(page, std::move(value), specifier);
    if (!key) return;
    // The tweak reads the file when the code arrives: a change that is not in it is not announced.
    if (!msgSend<bool>(self, S("writeSettings"))) return;
    if (*key == keyName(MainKey::ncstatus)) {
        if (ncstatusChanged(page)) msgSend<void>(self, S("respringPrompt"));
        return;
    }
    if (auto code = mainPageCode(*key)) msgSend<void>(self, S("notifySettings:"), Dictionary{{kItemToggledKey, *code}});
}

PSValue readPreferenceValue_(id self, SEL, PSSpecifier* specifier) { return readValue(mainPage(self), specifier); }

bool writeSettings(id self, SEL) { return saveSettings(mainPage(self)) != Saved::Nothing; }
bool sendSettings(id self, SEL) { return msgSend<bool>(self, S("writeSettings")); }
std::string takeSaveFailure_(id self, SEL) { return takeSaveFailure(mainPage(self)); }

void respringPrompt(id self, SEL) {
    auto* page = mainPage(self);
    if (!page->respringAlertView)
        page->respringAlertView =
            platform::UIAlertView::create("Restart SpringBoard?", "SpringBoard needs to be restarted in order to apply your change.",
                                          &page->alertDelegate, "Respring Later", {"Respring Now"});
    page->respringAlertView->setTag(3);
    page->respringAlertView->show();
}

void loadMusic(id self, SEL) {
    auto* page = mainPage(self);
    std::string error;
    page->audioPlayer = platform::AVAudioPlayer::initWithContentsOfURL(std::string("file://") + kMusicPath, &error);
    if (!page->audioPlayer) return;  // the thank-you dialog then plays nothing
    page->audioPlayer->prepareToPlay();
    page->audioPlayer->setNumberOfLoops(-1);
    page->audioPlayer->prepareToPlay();
}

void viewDidAppear_(id, SEL, bool) {}

void suspend(id self, SEL) {
    auto* page = mainPage(self);
    msgSend<bool>(self, S("writeSettings"));
    if (ncstatusChanged(page)) msgSend<void>(self, S("respringPrompt"));
}

void dealloc(id self, SEL sel) {
    auto* page = mainPage(self);
    msgSend<bool>(self, S("writeSettings"));
    page->_settings.clear();
    callSuper<void>(self, sel);
}

Dictionary settings(id self, SEL) { return mainPage(self)->_settings; }
void setSettings_(id self, SEL, Dictionary settings) { mainPage(self)->_settings = std::move(settings); }

using AlertField = std::shared_ptr<platform::UIAlertView> VantrelListController::*;
template <AlertField F>
std::shared_ptr<platform::UIAlertView> alertGetter(id self, SEL) { return mainPage(self)->*F; }
template <AlertField F>
void alertSetter(id self, SEL, std::shared_ptr<platform::UIAlertView> alert) { mainPage(self)->*F = std::move(alert); }

id carrierTextButton(id self, SEL) { return mainPage(self)->_carrierTextButton; }
void setCarrierTextButton_(id self, SEL, id button) { mainPage(self)->_carrierTextButton = button; }

}  // namespace

VantrelListController* mainPage(id self) {
    return static_cast<VantrelListController*>(static_cast<platform::PSListController*>(self));
}

void animationChangedCallback(CFNotificationCenterRef, void*, const std::string&, const void*, const Dictionary* userInfo) {
    if (!userInfo) return;
    auto flag = platform::readInt32(platform::lookup(*userInfo, kAnimationFlagKey));
    if (flag == 1) isAnimationRunning = true;
    else if (flag == 0) isAnimationRunning = false;
}

void registerMainPage(Class cls) {
    using runtime::imp;
    using Alert = std::shared_ptr<platform::UIAlertView>;
    class_addMethod(cls, S("initForContentSize:"), imp<id, platform::CGSize>(initForContentSize_), "@@:{CGSize=dd}");
    class_addMethod(cls, S("specifiers"), imp<platform::PSSpecifierList>(specifiers), "@@:");
    registerMainPageDialogs(cls);
    class_addMethod(cls, S("enabled"), imp<PSValue>(enabled), "@@:");
    class_addMethod(cls, S("setEnabled:"), imp<void, PSValue>(setEnabled_), "v@:@");
    class_addMethod(cls, S("notifySettings:"), imp<void, Dictionary>(notifySettings_), "v@:@");
    class_addMethod(cls, S("setPreferenceValue:specifier:"),
                    imp<void, PSValue, PSSpecifier*>(setPreferenceValue_specifier_), "v@:@@");
    class_addMethod(cls, S("readPreferenceValue:"), imp<PSValue, PSSpecifier*>(readPreferenceValue_), "@@:@");
    class_addMethod(cls, S("writeSettings"), imp<bool>(writeSettings), "c@:");
    class_addMethod(cls, S("sendSettings"), imp<bool>(sendSettings), "c@:");
    class_addMethod(cls, S("takeSaveFailure"), imp<std::string>(takeSaveFailure_), "@@:");
    class_addMethod(cls, S("respringPrompt"), imp<void>(respringPrompt), "v@:");
    class_addMethod(cls, S("loadMusic"), imp<void>(loadMusic), "v@:");
    class_addMethod(cls, S("viewDidAppear:"), imp<void, bool>(viewDidAppear_), "v@:c");
    class_addMethod(cls, S("suspend"), imp<void>(suspend), "v@:");
    class_addMethod(cls, S("dealloc"), imp<void>(dealloc), "v@:");
    class_addMethod(cls, S("settings"), imp<Dictionary>(settings), "@@:");
    class_addMethod(cls, S("setSettings:"), imp<void, Dictionary>(setSettings_), "v@:@");
    class_addMethod(cls, S("carrierAlertView"), imp<Alert>(alertGetter<&VantrelListController::carrierAlertView>), "@@:");
    class_addMethod(cls, S("setCarrierAlertView:"), imp<void, Alert>(alertSetter<&VantrelListController::carrierAlertView>), "v@:@");
    class_addMethod(cls, S("timeAlertView"), imp<Alert>(alertGetter<&VantrelListController::timeAlertView>), "@@:");
    class_addMethod(cls, S("setTimeAlertView:"), imp<void, Alert>(alertSetter<&VantrelListController::timeAlertView>), "v@:@");
    class_addMethod(cls, S("reverseStringView"), imp<Alert>(alertGetter<&VantrelListController::reverseStringView>), "@@:");
    class_addMethod(cls, S("setReverseStringView:"), imp<void, Alert>(alertSetter<&VantrelListController::reverseStringView>), "v@:@");
    class_addMethod(cls, S("respringAlertView"), imp<Alert>(alertGetter<&VantrelListController::respringAlertView>), "@@:");
    class_addMethod(cls, S("setRespringAlertView:"), imp<void, Alert>(alertSetter<&VantrelListController::respringAlertView>), "v@:@");
    class_addMethod(cls, S("carrierTextButton"), imp<id>(carrierTextButton), "@@:");
    class_addMethod(cls, S("setCarrierTextButton:"), imp<void, id>(setCarrierTextButton_), "v@:@");
}

}  // namespace vantrel::prefs
