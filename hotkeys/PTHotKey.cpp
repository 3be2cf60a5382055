#include "PTHotKey.h"

#include <QLoggingCategory>
#include <QMetaObject>

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <typeinfo>

using namespace Qt::StringLiterals;

namespace {

Q_LOGGING_CATEGORY(lcHotKey, "quillvane.hotkeys.hotkey", QtWarningMsg)

struct FreeDeleter
{
    void operator()(char *p) const { std::free(p); }
};

QString runtimeClassName(const PTHotKey &hotKey)
{
    const char *mangled = typeid(hotKey).name();
    int status = 0;
    const std::unique_ptr<char, FreeDeleter> demangled(abi::__cxa_demangle(mangled, nullptr, nullptr, &status));
    return QString::fromUtf8(status == 0 && demangled ? demangled.get() : mangled);
}

} // namespace

PTHotKey::PTHotKey()
    : mKeyCombo(PTKeyCombo::clearKeyCombo())
{
}

PTHotKey::~PTHotKey() = default;

void PTHotKey::invoke()
{
    QObject *target = mTarget.data();
    if (mAction.isEmpty() || !target)
        return;
    if (!QMetaObject::invokeMethod(target, mAction.constData(), Qt::DirectConnection, Q_ARG(PTHotKey *, this))) {
        qCWarning(lcHotKey) << "Hot key" << mName << "cannot call" << mAction << "on" << target
                            << "- it has no invokable method of that name taking a PTHotKey *";
    }
}

QString PTHotKey::description() const
{
    return u"<%1: %2>"_s.arg(runtimeClassName(*this), mKeyCombo.description());
}
