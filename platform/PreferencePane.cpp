#include "platform/PreferencePane.h"

// Guarding a widget pointer needs QWidget's definition but none of its code,
// so the platform library does not link Qt Widgets for it.
#include <QtWidgets/QWidget>

namespace platform {

PreferencePane::PreferencePane(QObject *parent)
    : QObject(parent)
{
}

PreferencePane::~PreferencePane() = default;

QWidget *PreferencePane::mainView() const
{
    return m_mainView;
}

void PreferencePane::setMainView(QWidget *view)
{
    m_mainView = view;
}

void PreferencePane::mainViewDidLoad()
{
}

} // namespace platform
