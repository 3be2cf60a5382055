#pragma once

#include <QWidget>

class QTabWidget;

namespace host {

// The settings window: one page shows alone, several as tabs.
class SettingsWindow : public QWidget
{
    Q_OBJECT

public:
    explicit SettingsWindow(QWidget *parent = nullptr);
    ~SettingsWindow() override;

    // Shows VIEW as the page LABEL; the window takes the view over.
    void addPane(const QString &label, QWidget *view);
    int paneCount() const;

private:
    Q_DISABLE_COPY_MOVE(SettingsWindow)

    void updateTitle();

    QTabWidget *const m_pages;
};

} // namespace host
