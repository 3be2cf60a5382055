#pragma once

#include <QString>

#include <functional>
#include <memory>

class QObject;
class QWidget;

namespace panecontract {

// Interface files (Qt Designer .ui) and the object that owns one, tied
// together by names, the same way for a settings page and for any window of
// ours that is made from such a file:
// - Outlets: every writable property of the owner whose type is a pointer to
//   a QObject class is an outlet, filled with the widget of the same object
//   name. A file without such a widget, or whose widget is of another class,
//   does not bind.
// - Actions: a widget that sends an action carries the dynamic property
//   "action", the name of an invokable method of the owner that takes the
//   sending widget (a QObject *). The widget's signal named by its dynamic
//   property "actionSignal", "clicked" when it has none, sends it.
class InterfaceFile
{
public:
    // Makes the widgets of the owner's own classes: a new object of
    // CLASSNAME with PARENT, or null for a class it does not know.
    using WidgetFactory = std::function<QObject *(const QString &className, QWidget *parent)>;

    // The widgets of the file at PATH, made by FACTORY where it knows the
    // class and as Qt's loader makes them otherwise; null with *ERRORSTRING
    // set when the file cannot be read, or names one of the owner's classes
    // that is not a widget.
    static std::unique_ptr<QWidget> load(const QString &path, const WidgetFactory &factory,
                                         QString *errorString);

    // Fills OWNER's outlets from VIEW and connects VIEW's actions to OWNER.
    // False with *ERRORSTRING set (completing "the interface file ...") when
    // an outlet or an action has nothing to match.
    static bool bind(QObject *owner, QWidget *view, QString *errorString);
};

} // namespace panecontract
