#include "PreferencePane.h"

#include <QWidget>

namespace panecontract {

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

} // namespace panecontract
