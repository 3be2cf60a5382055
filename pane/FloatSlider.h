#pragma once

#include <QString>
#include <QWidget>

class QLabel;
class QLocale;
class QSlider;

// A horizontal slider over 32-bit float values with a label that shows the
// value: 35.0 reads back as exactly 35.0f and shows as "35.0".
//
// The knob moves in steps of singleStep between minimum and maximum; a value
// set from code keeps all its digits (the knob goes to the nearest step). A
// value outside the range, or one that is not a number, never gets in: it is
// logged and replaced by the nearest end of the range (the minimum for NaN).
//
// Every change a user makes is one valueCommitted(): when the knob is let go
// after a drag (not while it moves), and for each keyboard, wheel or page
// step. Values set from code commit nothing.
class FloatSlider : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(float floatValue READ floatValue WRITE setFloatValue USER true)
    Q_PROPERTY(double minimum READ minimum WRITE setMinimum)
    Q_PROPERTY(double maximum READ maximum WRITE setMaximum)
    Q_PROPERTY(double singleStep READ singleStep WRITE setSingleStep)
    Q_PROPERTY(double pageStep READ pageStep WRITE setPageStep)
    Q_PROPERTY(double tickInterval READ tickInterval WRITE setTickInterval)
    // How the label shows the value: "%1" is replaced by the number.
    Q_PROPERTY(QString valueFormat READ valueFormat WRITE setValueFormat)
    Q_PROPERTY(QString valueText READ valueText)

public:
    explicit FloatSlider(QWidget *parent = nullptr);
    ~FloatSlider() override;

    float floatValue() const { return m_value; }
    void setFloatValue(float value);

    double minimum() const { return m_minimum; }
    void setMinimum(double minimum);
    double maximum() const { return m_maximum; }
    void setMaximum(double maximum);
    double singleStep() const { return m_singleStep; }
    void setSingleStep(double step);
    double pageStep() const { return m_pageStep; }
    void setPageStep(double step);
    // 0 draws no tick marks.
    double tickInterval() const { return m_tickInterval; }
    void setTickInterval(double interval);

    QString valueFormat() const { return m_valueFormat; }
    void setValueFormat(const QString &format);
    // What the label shows now.
    QString valueText() const;

    // The shortest decimal that reads back as VALUE, with at least one digit
    // after the decimal separator, in LOCALE: 35 as "35.0", 0.1f as "0.1".
    static QString formatValue(float value, const QLocale &locale);

    // The slider part, which takes the keyboard focus.
    QSlider *slider() const { return m_slider; }

Q_SIGNALS:
    void valueCommitted();

protected:
    bool event(QEvent *event) override;

private:
    Q_DISABLE_COPY_MOVE(FloatSlider)

    void userMovedTo(int position);
    void knobPressed();
    void knobReleased();
    // Puts the knob where the value is and the value in the label, without
    // signals from the slider part.
    void showValue();
    void updateRange();
    int stepCount(double span) const;
    int positionFor(float value) const;
    float valueAt(int position) const;
    float guarded(float value) const;

    QSlider *const m_slider;
    QLabel *const m_label;
    float m_value = 0.0f;
    float m_valueAtPress = 0.0f;
    double m_minimum = 0.0;
    double m_maximum = 100.0;
    double m_singleStep = 1.0;
    double m_pageStep = 10.0;
    double m_tickInterval = 0.0;
    QString m_valueFormat;
};
