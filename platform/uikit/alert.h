// UIAlertView: title, message, buttons (the cancel button is index 0), tag, text fields and a
// delegate. show() never blocks: it hands the alert to the process's presenter, which keeps the
// visible alerts in order until a button is pressed; the host draws them and tests read them.
// The delegate is not owned; an owner that goes away first calls forgetDelegate. Main thread.
// An alert without delegate or text fields that is shown while an identical one is still up
// joins it (its count() grows) instead of stacking: a flood of one error cannot grow the screen.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

class UIAlertView;

class UIAlertViewDelegate {
public:
    virtual ~UIAlertViewDelegate() = default;
    virtual void alertView_clickedButtonAtIndex(UIAlertView& alertView, long buttonIndex) = 0;
};

struct UITextField {
    std::string text;
    std::string label;
    bool isFirstResponder = false;
    void becomeFirstResponder() { isFirstResponder = true; }
};

class UIAlertView : public std::enable_shared_from_this<UIAlertView> {
public:
    // initWithTitle:message:delegate:cancelButtonTitle:otherButtonTitles:
    static std::shared_ptr<UIAlertView> create(std::string title, std::string message, UIAlertViewDelegate* delegate,
                                               std::string cancelButtonTitle, std::vector<std::string> otherButtonTitles = {});

    const std::string& title() const { return title_; }
    const std::string& message() const { return message_; }
    const std::vector<std::string>& buttonTitles() const { return buttons_; }
    UIAlertViewDelegate* delegate() const { return delegate_; }
    void setDelegate(UIAlertViewDelegate* d) { delegate_ = d; }
    long tag() const { return tag_; }
    void setTag(long tag) { tag_ = tag; }

    UITextField& addTextFieldWithValue(const std::string& value, const std::string& label);
    UITextField* textField();  // the first, or nullptr
    UITextField* textFieldAtIndex(size_t index);

    void show();
    bool isVisible() const;
    // The user pressing a button: the alert goes away, then the delegate hears of it once.
    void dismissWithClickedButtonIndex(long index);
    uint64_t alertId() const { return id_; }
    // How many identical alerts this one stands for (1, plus each that joined it).
    uint64_t count() const { return count_; }

private:
    UIAlertView() = default;
    std::string title_, message_;
    std::vector<std::string> buttons_;
    UIAlertViewDelegate* delegate_ = nullptr;
    long tag_ = 0;
    std::vector<UITextField> fields_;
    uint64_t id_ = 0;
    uint64_t count_ = 1;

    bool sameNoticeAs(const UIAlertView& other) const;
};

// The alerts on screen, oldest first.
std::vector<std::shared_ptr<UIAlertView>> visibleAlerts();
std::shared_ptr<UIAlertView> visibleAlert(uint64_t alertId);
// Told whenever an alert appears or goes away (the host redraws).
void setAlertObserver(std::function<void()> observer);
// Detaches a delegate that is going away from every alert that names it.
void forgetDelegate(UIAlertViewDelegate* delegate);
// Dismisses every alert without telling delegates (tests start clean).
void clearAlerts();

}  // namespace platform
