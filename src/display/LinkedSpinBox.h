#pragma once

#include <QWidget>

class QLabel;
class QSpinBox;

// A labelled spin box: optional prefix label, the box, optional suffix label.
// Linked to a master box it never exceeds the master's value, follows the
// master down and returns to the value the user last typed (wantedValue) when
// the master rises again.
class LinkedSpinBox : public QWidget
{
    Q_OBJECT
public:
    LinkedSpinBox(QWidget *parent, const QString &prefix, const QString &suffix, int min, int max,
            int step, LinkedSpinBox *master = nullptr);

    int value() const;
    int wantedValue() const { return wanted; }
    int maximum() const;
    int minimum() const;
    void setMaximum(int max);
    QSpinBox *spinBox() const { return box; }

public slots:
    void setValue(int value);

signals:
    void valueChanged(int value);

private slots:
    void ownValueChanged(int value);
    void masterValueChanged(int value);

private:
    QSpinBox *box;
    LinkedSpinBox *master;
    int wanted;
};
