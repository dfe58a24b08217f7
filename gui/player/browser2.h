#pragma once
#include <QWidget>
#include <string>

namespace marlix {

class TFr_Browser;
struct TBrowserContext;

// A pop-up browser: borderless, above other windows, optionally translucent, showing one
// folder of the chain that started at the browser window. In the single-list style it
// opens a further pop-up for a hovered sub-folder at its right edge.
class TFo_Browser2 : public QWidget {
public:
    TFo_Browser2(TBrowserContext& context, bool paged, int columnWidth, std::string root);
    ~TFo_Browser2() override;

    TFr_Browser* Frame() const { return Fr_Browser; }
    TFo_Browser2* Child() const { return ChildPopup; }
    // Marks this pop-up and every one after it as closing, so that losing the focus on
    // the way out posts no further close request.
    void MarkClosing();
    void CloseChild();
    bool Closing() const { return CloseRequested; }

protected:
    void changeEvent(QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void resizeEvent(QResizeEvent*) override;

private:
    void FrameHovered();

    TBrowserContext& Context;
    TFr_Browser* Fr_Browser;
    TFo_Browser2* ChildPopup = nullptr;
    bool CloseRequested = false;
};

} // namespace marlix
