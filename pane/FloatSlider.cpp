#include "FloatSlider.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QLoggingCategory>
#include <QSignalBlocker>
#include <QSlider>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

using namespace Qt::StringLiterals;

Q_LOGGING_CATEGORY(lcSlider, "quillvane.pane.slider", QtWarningMsg)

FloatSlider::FloatSlider(QWidget *parent)
    : QWidget(parent)
    , m_slider(new QSlider(Qt::Horizontal, this))
    , m_label(new QLabel(this))
    , m_valueFormat(u"%1"_s)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_slider, 1);
    layout->addWidget(m_label);
    m_label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    setFocusProxy(m_slider);
    setFocusPolicy(m_slider->focusPolicy());
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    // The knob follows the mouse and the label with it, but only a release
    // or a step is a change the user has made.
    m_slider->setTracking(true);
    connect(m_slider, &QSlider::sliderMoved, this, &FloatSlider::userMovedTo);
    connect(m_slider, &QSlider::valueChanged, this, [this](int position) {
        if (m_slider->isSliderDown())
            return;
        userMovedTo(position);
        Q_EMIT valueCommitted();
    });
    connect(m_slider, &QSlider::sliderPressed, this, &FloatSlider::knobPressed);
    connect(m_slider, &QSlider::sliderReleased, this, &FloatSlider::knobReleased);
    updateRange();
}

FloatSlider::~FloatSlider() = default;

float FloatSlider::guarded(float value) const
{
    const float low = float(m_minimum);
    const float high = float(m_maximum);
    float result = value;
    if (std::isnan(value))
        result = low;
    else if (value < low)
        result = low;
    else if (value > high)
        result = high;
    if (result != value || std::isnan(value)) {
        qCWarning(lcSlider).nospace().noquote() << "Slider " << objectName() << " cannot show " << value << ": it goes from "
                                      << m_minimum << " to " << m_maximum << "; showing " << result;
    }
    return result;
}

void FloatSlider::setFloatValue(float value)
{
    m_value = guarded(value);
    if (m_value == 0.0f)
        m_value = 0.0f; // no negative zero
    showValue();
}

void FloatSlider::setMinimum(double minimum)
{
    if (!std::isfinite(minimum))
        return;
    m_minimum = minimum;
    m_maximum = std::max(m_maximum, m_minimum);
    updateRange();
}

void FloatSlider::setMaximum(double maximum)
{
    if (!std::isfinite(maximum))
        return;
    m_maximum = maximum;
    m_minimum = std::min(m_minimum, m_maximum);
    updateRange();
}

void FloatSlider::setSingleStep(double step)
{
    if (!(step > 0.0) || !std::isfinite(step))
        return;
    m_singleStep = step;
    updateRange();
}

void FloatSlider::setPageStep(double step)
{
    if (!(step > 0.0) || !std::isfinite(step))
        return;
    m_pageStep = step;
    updateRange();
}

void FloatSlider::setTickInterval(double interval)
{
    if (!(interval >= 0.0) || !std::isfinite(interval))
        return;
    m_tickInterval = interval;
    updateRange();
}

void FloatSlider::setValueFormat(const QString &format)
{
    m_valueFormat = format.contains(u"%1"_s) ? format : u"%1"_s;
    updateRange();
}

QString FloatSlider::valueText() const
{
    return m_valueFormat.arg(formatValue(m_value, locale()));
}

QString FloatSlider::formatValue(float value, const QLocale &locale)
{
    if (!std::isfinite(value))
        return locale.toString(double(value));
    if (value == 0.0f)
        value = 0.0f;
    // Shortest round trip of the float itself: widening to double first
    // would show 0.1f as 0.100000001490116.
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    QString text = QString::fromLatin1(buffer, result.ptr - buffer);
    if (!text.contains(u'.'))
        text += u".0"_s;
    text.replace(u'.', locale.decimalPoint());
    text.replace(u'-', locale.negativeSign());
    return text;
}

int FloatSlider::stepCount(double span) const
{
    const double steps = std::round(span / m_singleStep);
    return int(std::clamp(steps, 0.0, double(std::numeric_limits<int>::max() / 2)));
}

int FloatSlider::positionFor(float value) const
{
    return std::clamp(stepCount(double(value) - m_minimum), 0, m_slider->maximum());
}

float FloatSlider::valueAt(int position) const
{
    return float(std::min(m_minimum + position * m_singleStep, m_maximum));
}

void FloatSlider::updateRange()
{
    {
        const QSignalBlocker blocker(m_slider);
        m_slider->setRange(0, stepCount(m_maximum - m_minimum));
        m_slider->setSingleStep(1);
        m_slider->setPageStep(std::max(1, stepCount(m_pageStep)));
        const int ticks = stepCount(m_tickInterval);
        m_slider->setTickInterval(ticks);
        m_slider->setTickPosition(ticks > 0 ? QSlider::TicksBelow : QSlider::NoTicks);
    }
    // A narrower range keeps the value inside it without a word: the value
    // was ours, not something read from outside.
    m_value = std::clamp(m_value, float(m_minimum), float(m_maximum));
    // Room for the widest value so that the slider does not jump about.
    const QFontMetrics metrics = m_label->fontMetrics();
    int width = 0;
    for (const double end : {m_minimum, m_maximum}) {
        const QString widest = m_valueFormat.arg(formatValue(float(end), locale()) + u"0"_s);
        width = std::max(width, metrics.horizontalAdvance(widest));
    }
    m_label->setMinimumWidth(width);
    showValue();
}

void FloatSlider::showValue()
{
    {
        const QSignalBlocker blocker(m_slider);
        m_slider->setValue(positionFor(m_value));
    }
    m_label->setText(valueText());
}

void FloatSlider::userMovedTo(int position)
{
    m_value = valueAt(position);
    m_label->setText(valueText());
}

void FloatSlider::knobPressed()
{
    m_valueAtPress = m_value;
}

void FloatSlider::knobReleased()
{
    if (m_value != m_valueAtPress)
        Q_EMIT valueCommitted();
}

bool FloatSlider::event(QEvent *event)
{
    switch (event->type()) {
    case QEvent::Polish:
        // Screen readers meet the slider part, which has the focus; give it
        // the name and description that this widget was given.
        if (m_slider->accessibleName().isEmpty())
            m_slider->setAccessibleName(accessibleName());
        if (m_slider->accessibleDescription().isEmpty())
            m_slider->setAccessibleDescription(accessibleDescription());
        if (m_slider->toolTip().isEmpty())
            m_slider->setToolTip(toolTip());
        break;
    case QEvent::LocaleChange:
    case QEvent::FontChange:
        updateRange();
        break;
    default:
        break;
    }
    return QWidget::event(event);
}
