#pragma once

#include <QLabel>
#include <QWidget>

class QPushButton;

// The pan/tilt pad: four direction buttons over a background image. The
// buttons send nothing yet.
class QPtzFrame : public QWidget
{
    Q_OBJECT

public:
    explicit QPtzFrame(QWidget *parent = nullptr);

public slots:
    void UpButton_clicked();
    void RightButton_clicked();
    void DownButton_clicked();
    void LeftButton_clicked();

private:
    QPushButton *makeButton(const QString &name, const QString &tip, const QString &image);
};

// The container of the pan/tilt pad beside the live page; created hidden.
class QPtzCtrol : public QLabel
{
    Q_OBJECT

public:
    explicit QPtzCtrol(QWidget *parent = nullptr);

    QPtzFrame *frame() const { return m_frame; }

private:
    QPtzFrame *m_frame;
};
