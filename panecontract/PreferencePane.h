#pragma once

#include "Export.h"

#include <QObject>
#include <QPointer>

class QWidget;

namespace panecontract {

// The base of a settings page that a settings host loads: the host gives the
// page its main view, then calls mainViewDidLoad() once before any control
// can send an action.
class QUILLVANE_EXPORT PreferencePane : public QObject
{
    Q_OBJECT

public:
    explicit PreferencePane(QObject *parent = nullptr);
    ~PreferencePane() override;

    // The page's top-level widget; null until the host has loaded it, and
    // null again once whoever owns the widget has destroyed it.
    virtual QWidget *mainView() const;
    void setMainView(QWidget *view);

    // Called once after the main view has been loaded. Does nothing here.
    virtual void mainViewDidLoad();

private:
    Q_DISABLE_COPY_MOVE(PreferencePane)

    QPointer<QWidget> m_mainView;
};

} // namespace panecontract
