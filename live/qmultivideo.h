#pragma once

#include <QWidget>

#include <cstdint>

class QVideoHand;
class QVideoPlay;

// One live window of the grid: the title bar at the top (19 pixels) and the
// video area from y = 20 to the bottom. Its signals carry the native window
// handle of the video area, which is how the grid tells windows apart.
class qmultivideo : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kHandHeight = 19;
    static constexpr int kPlayTop = 20;

    // number: the window's title number (index + 1).
    explicit qmultivideo(int number, QWidget *parent = nullptr);
    ~qmultivideo() override;

    int number() const { return m_number; }
    int32_t nativeHandle() const;
    QVideoHand *hand() const { return m_hand; }
    QVideoPlay *play() const { return m_play; }

    bool inUse() const { return m_inUse; }
    void setInUse(bool inUse) { m_inUse = inUse; }
    bool maximised() const { return m_maximised; }
    void setMaximised(bool maximised) { m_maximised = maximised; }

signals:
    void CloseVideoWinToVOnly(int handle);
    void CapturePicWinToVOnly(int handle);
    void RecordVideoToVideo(int handle, bool record);

public slots:
    void CloseVideoWinFromHand();
    void CapturePicWinFromHand();
    void RecordVideoFromHand(bool record);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    int m_number;
    QVideoHand *m_hand = nullptr;
    QVideoPlay *m_play = nullptr;
    bool m_inUse = false;
    bool m_maximised = false;
};
