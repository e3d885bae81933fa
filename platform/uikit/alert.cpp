#include "platform/uikit/alert.h"

#include <algorithm>
#include <atomic>

#include "platform/foundation/log.h"

namespace platform {
namespace {

struct Presenter {
    std::vector<std::shared_ptr<UIAlertView>> visible;
    std::function<void()> observer;
};
Presenter& presenter() {
    static Presenter p;
    return p;
}
std::atomic<uint64_t> nextId{1};

void changed() {
    if (presenter().observer) presenter().observer();
}

}  // namespace

std::shared_ptr<UIAlertView> UIAlertView::create(std::string title, std::string message, UIAlertViewDelegate* delegate,
                                                 std::string cancelButtonTitle, std::vector<std::string> otherButtonTitles) {
    std::shared_ptr<UIAlertView> a(new UIAlertView());
    a->title_ = std::move(title);
    a->message_ = std::move(message);
    a->delegate_ = delegate;
    if (!cancelButtonTitle.empty()) a->buttons_.push_back(std::move(cancelButtonTitle));
    for (auto& b : otherButtonTitles) a->buttons_.push_back(std::move(b));
    a->id_ = nextId++;
    return a;
}

UITextField& UIAlertView::addTextFieldWithValue(const std::string& value, const std::string& label) {
    fields_.push_back(UITextField{value, label, false});
    return fields_.back();
}

UITextField* UIAlertView::textField() { return fields_.empty() ? nullptr : &fields_.front(); }
UITextField* UIAlertView::textFieldAtIndex(size_t index) { return index < fields_.size() ? &fields_[index] : nullptr; }

// Only plain notices join: an alert with a delegate or text fields is answered one by one.
bool UIAlertView::sameNoticeAs(const UIAlertView& other) const {
    return !delegate_ && !other.delegate_ && fields_.empty() && other.fields_.empty() && tag_ == other.tag_ &&
           title_ == other.title_ && message_ == other.message_ && buttons_ == other.buttons_;
}

void UIAlertView::show() {
    auto& v = presenter().visible;
    auto self = shared_from_this();
    if (std::find(v.begin(), v.end(), self) != v.end()) return;
    // Joining keeps every showing counted with memory bounded by the distinct texts; a capped
    // queue would have to drop notices the user never saw.
    auto same = std::find_if(v.begin(), v.end(), [this](const auto& a) { return sameNoticeAs(*a); });
    if (same != v.end())
        ++(*same)->count_;
    else
        v.push_back(self);
    changed();
}

bool UIAlertView::isVisible() const {
    auto& v = presenter().visible;
    return std::any_of(v.begin(), v.end(), [this](const auto& a) { return a.get() == this; });
}

void UIAlertView::dismissWithClickedButtonIndex(long index) {
    auto self = shared_from_this();  // the delegate may drop its own reference
    auto& v = presenter().visible;
    v.erase(std::remove(v.begin(), v.end(), self), v.end());
    for (auto& f : fields_) f.isFirstResponder = false;
    changed();
    if (delegate_) {
        try {
            delegate_->alertView_clickedButtonAtIndex(*this, index);
        } catch (...) {
            NSLog("An alert delegate threw");
        }
    }
}

std::vector<std::shared_ptr<UIAlertView>> visibleAlerts() { return presenter().visible; }

std::shared_ptr<UIAlertView> visibleAlert(uint64_t alertId) {
    for (auto& a : presenter().visible)
        if (a->alertId() == alertId) return a;
    return nullptr;
}

void setAlertObserver(std::function<void()> observer) { presenter().observer = std::move(observer); }

void forgetDelegate(UIAlertViewDelegate* delegate) {
    for (auto& a : presenter().visible)
        if (a->delegate() == delegate) a->setDelegate(nullptr);
}

void clearAlerts() {
    presenter().visible.clear();
    changed();
}

}  // namespace platform
