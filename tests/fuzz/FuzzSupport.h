#pragma once

// What every fuzz target shares: quiet logging, a check that stops the run
// with a message (libFuzzer then keeps the input that broke it), and a strict
// comparison of property-list values.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVariant>
#include <QtGlobal>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace fuzz {

// Log lines about refused input are expected by the million; printing them
// would be most of a run's time.
inline void quietLogging()
{
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &message) {
        if (type == QtFatalMsg) {
            std::fprintf(stderr, "fatal: %s\n", qPrintable(message));
            std::abort();
        }
    });
}

[[noreturn]] inline void fail(const char *what, const char *file, int line, const QString &detail)
{
    std::fprintf(stderr, "%s:%d: check failed: %s\n%s\n", file, line, what, qPrintable(detail));
    std::abort();
}

inline QByteArray bytes(const uint8_t *data, size_t size)
{
    // The fuzzer's own buffer, which ends exactly at the input's end: code
    // that reads one byte too far then reads outside a heap block, which the
    // address sanitizer sees (a copy would hide it behind its terminating NUL).
    return QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
}

// Equal values of the same type, recursively; NaN equals NaN and the sign of
// zero counts, so that a value read back is exactly the value written.
inline bool sameValue(const QVariant &a, const QVariant &b)
{
    if (a.typeId() != b.typeId())
        return false;
    switch (a.typeId()) {
    case QMetaType::Double: {
        const double x = a.toDouble();
        const double y = b.toDouble();
        if (std::isnan(x) || std::isnan(y))
            return std::isnan(x) && std::isnan(y);
        return x == y && std::signbit(x) == std::signbit(y);
    }
    case QMetaType::QVariantMap: {
        const QVariantMap x = a.toMap();
        const QVariantMap y = b.toMap();
        if (x.size() != y.size())
            return false;
        for (auto i = x.cbegin(), j = y.cbegin(); i != x.cend(); ++i, ++j) {
            if (i.key() != j.key() || !sameValue(i.value(), j.value()))
                return false;
        }
        return true;
    }
    case QMetaType::QVariantList: {
        const QVariantList x = a.toList();
        const QVariantList y = b.toList();
        if (x.size() != y.size())
            return false;
        for (qsizetype i = 0; i < x.size(); ++i) {
            if (!sameValue(x.at(i), y.at(i)))
                return false;
        }
        return true;
    }
    case QMetaType::QDateTime:
        return a.toDateTime() == b.toDateTime() && a.toDateTime().timeSpec() == b.toDateTime().timeSpec();
    default:
        return a == b;
    }
}

} // namespace fuzz

#define FUZZ_CHECK(condition, detail)                                                                        \
    do {                                                                                                     \
        if (!(condition))                                                                                    \
            fuzz::fail(#condition, __FILE__, __LINE__, (detail));                                            \
    } while (false)
