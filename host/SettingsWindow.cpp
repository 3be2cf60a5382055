#include "SettingsWindow.h"

#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

namespace host {

SettingsWindow::SettingsWindow(QWidget *parent)
    : QWidget(parent)
    , m_pages(new QTabWidget(this))
{
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_pages);
    m_pages->setDocumentMode(true);
    m_pages->setTabBarAutoHide(true);
    m_pages->setAccessibleName(tr("Settings pages"));
    updateTitle();
}

SettingsWindow::~SettingsWindow() = default;

void SettingsWindow::addPane(const QString &label, QWidget *view)
{
    m_pages->addTab(view, label);
    updateTitle();
}

int SettingsWindow::paneCount() const
{
    return m_pages->count();
}

void SettingsWindow::updateTitle()
{
    if (m_pages->count() == 1)
        setWindowTitle(tr("%1 Settings").arg(m_pages->tabText(0)));
    else
        setWindowTitle(tr("Settings"));
}

} // namespace host
