#pragma once
#include <QWidget>
#include <string>

namespace marlix {

class TWebView;

// The news window "Information": the news page fetched at start-up, in the embedded
// browser. Freed when closed.
class TFo_GetNew : public QWidget {
public:
    explicit TFo_GetNew(const std::string& programFolder, QWidget* parent = nullptr);
    TWebView* Browser() const { return WB_Browser; }

protected:
    void showEvent(QShowEvent* e) override;

private:
    std::string Page;
    TWebView* WB_Browser;
};

} // namespace marlix
