#pragma once

#include "audio/MMDIBCv.h"
#include "audio/MMDSPObj.h"
#include "audio/WaveFormat.h"

#include <QColor>
#include <QRect>
#include <QWidget>

#include <array>
#include <atomic>
#include <functional>
#include <stdexcept>

// The level meter: a bar of spots in three colour zones showing the loudness
// of one channel, with a peak marker that holds and then falls. The
// connector hands it a PCM format and then blocks of samples; each block
// gives one level, smoothed, scaled to decibels and drawn at once when the
// number of lit spots or the peak changed.
//
// Threads: everything runs on the UI thread except PeakTick, which runs on
// the timer service thread and touches only the atomics PeakSpot, PeakHold
// and NeedsRepaint.

class EMMLevelError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

inline constexpr const char *kInvalidWaveFormat = "Invalid WaveFormat";

enum TMMLevelKind { lkHorizontal, lkVertical };
enum TMMLevelDirection { dirNormal, dirReversed, dirSymetric };
enum TMMChannel { chBoth, chLeft, chRight };
enum TMMDecayMode { dmNone, dmStepUp, dmExponential, dmUniform };
enum TMMBevelStyle { bvNone, bvLowered, bvRaised };

class TimerClient;

// The frame drawn around a graphic control, from the outside in: optional
// single-line border, outer bevel, border, inner bevel, border space.
class TMMBevel
{
public:
    bool BorderStyleSingle = false;
    TMMBevelStyle BevelOuter = bvLowered;
    int BevelOuterWidth = 1;
    QColor OuterShadowColor = QColor(128, 128, 128);
    QColor OuterLightColor = QColor(255, 255, 255);
    int BorderWidth = 0;
    QColor BorderColor = QColor(192, 192, 192);
    TMMBevelStyle BevelInner = bvNone;
    int BevelInnerWidth = 1;
    QColor InnerShadowColor = QColor(128, 128, 128);
    QColor InnerLightColor = QColor(255, 255, 255);
    int BorderSpace = 0;
    QColor BorderSpaceColor = QColor(0, 0, 0);

    // Pixels taken from each side of the control.
    [[nodiscard]] int TotalWidth() const;
    // Draws the frame into r; answers the rectangle left inside it.
    QRect Paint(class QPainter &p, const QRect &r) const;
};

// A control with a bevel around an inner area.
class TMMGraphicControl : public QWidget
{
    Q_OBJECT
public:
    explicit TMMGraphicControl(QWidget *parent = nullptr);

    [[nodiscard]] const TMMBevel &Bevel() const { return m_bevel; }
    // Replaces the frame and re-measures the inner area.
    void setBevel(const TMMBevel &bevel);

protected:
    // Called after the inner area changed size.
    virtual void Changed() {}
    [[nodiscard]] QRect innerRectFor(QSize size) const;

    TMMBevel m_bevel;
};

// A graphic control that draws through an off-screen image (the work image).
class TMMDIBGraphicControl : public TMMGraphicControl
{
    Q_OBJECT
public:
    explicit TMMDIBGraphicControl(QWidget *parent = nullptr);

    [[nodiscard]] const TMMDIBCanvas &WorkImage() const { return m_work; }
    // Depth of the off-screen images: 8 (palette, the default) or 24; any
    // other raises EMMDIBError("Bitlength not supported yet").
    [[nodiscard]] int BitCount() const { return m_work.BitCount(); }
    virtual void setBitCount(int bits) { m_work.SetBitCount(bits); }

protected:
    TMMDIBCanvas m_work;
};

class TMMCustomLevel : public TMMDIBGraphicControl
{
    Q_OBJECT
public:
    explicit TMMCustomLevel(QWidget *parent = nullptr);
    ~TMMCustomLevel() override;

    // --- called by the connector ---
    // Accepts 8- or 16-bit PCM, 1 or 2 channels, 4000 ... 100000 Hz;
    // anything else raises EMMLevelError("Invalid WaveFormat").
    void SetWaveFormat(const TWaveFormatEx *format);
    [[nodiscard]] int BlockBytes() const { return m_blockBytes; }
    // data holds at least BlockBytes() bytes.
    void ProcessBlock(const void *data);
    void ResetData();

    void ResetDecay();
    // Shows amplitude A (0 ... 32767 is the bar's range).
    void DisplayLevel(int amplitude);
    // One 25 ms tick of the peak marker (timer service thread).
    void PeakTick();

    // --- properties ---
    [[nodiscard]] bool Enabled() const { return m_enabled; }
    void setEnabled(bool on);
    [[nodiscard]] TMMLevelKind Kind() const { return m_kind; }
    void setKind(TMMLevelKind kind);
    [[nodiscard]] TMMLevelDirection Direction() const { return m_direction; }
    void setDirection(TMMLevelDirection d);
    [[nodiscard]] QColor Color() const { return m_color; }
    void setColor(QColor c);
    [[nodiscard]] int SpotWidth() const { return m_spotWidth; }
    void setSpotWidth(int w);
    [[nodiscard]] int SpotSpace() const { return m_spotSpace; }
    void setSpotSpace(int s);
    [[nodiscard]] QColor BarColor(int zone) const { return m_barColor[zoneIndex(zone)]; }
    void setBarColor(int zone, QColor c);
    [[nodiscard]] QColor InactiveColor(int zone) const { return m_inactiveColor[zoneIndex(zone)]; }
    void setInactiveColor(int zone, QColor c);
    [[nodiscard]] bool ActiveDoted() const { return m_activeDoted; }
    void setActiveDoted(bool on);
    [[nodiscard]] bool InactiveDoted() const { return m_inactiveDoted; }
    void setInactiveDoted(bool on);
    [[nodiscard]] int Point1() const { return m_point1; }
    void setPoint1(int percent);
    [[nodiscard]] int Point2() const { return m_point2; }
    void setPoint2(int percent);
    [[nodiscard]] TMMBits BitLength() const { return m_bitLength; }
    void setBitLength(TMMBits b);
    [[nodiscard]] TMMMode Mode() const { return m_mode; }
    void setMode(TMMMode m);
    [[nodiscard]] TMMChannel Channel() const { return m_channel; }
    void setChannel(TMMChannel c);
    [[nodiscard]] int Samples() const { return m_samples; }
    void setSamples(int n);
    [[nodiscard]] int Gain() const { return m_gain; }
    void setGain(int g);
    [[nodiscard]] int Sensitivy() const { return m_sensitivy; }
    void setSensitivy(int dB);
    [[nodiscard]] bool LogAmp() const { return m_logAmp; }
    void setLogAmp(bool on);
    [[nodiscard]] int NumPeaks() const { return m_numPeaks; }
    void setNumPeaks(int n);
    [[nodiscard]] int PeakDelay() const { return m_peakDelay; }
    void setPeakDelay(int d);
    [[nodiscard]] int PeakSpeed() const { return m_peakSpeed; }
    void setPeakSpeed(int s);
    [[nodiscard]] TMMDecayMode DecayMode() const { return m_decayMode; }
    void setDecayMode(TMMDecayMode m);
    [[nodiscard]] int Decay() const { return m_decay; }
    void setDecay(int d);
    [[nodiscard]] int DCOffsetL() const { return -m_offL; }
    void setDCOffsetL(int v) { m_offL = -v; }
    [[nodiscard]] int DCOffsetR() const { return -m_offR; }
    void setDCOffsetR(int v) { m_offR = -v; }
    [[nodiscard]] int Value() const;
    void setValue(int v);

    using DrawBarEvent = std::function<void(TMMCustomLevel *sender, TMMDIBCanvas &canvas,
                                            int peak, int value, QRect rect)>;
    void setOnDrawBar(DrawBarEvent handler);
    void setBitCount(int bits) override;
    std::function<void(TMMCustomLevel *)> OnPaint;
    std::function<void(TMMCustomLevel *)> OnGainOverflow;
    std::function<void(TMMCustomLevel *)> OnPcmOverflow;

    // --- state, for the connector, tests and drawing ---
    [[nodiscard]] QRect InnerRect() const { return m_innerRect; }
    [[nodiscard]] int NumSpots() const { return m_numSpots; }
    [[nodiscard]] int SpotMargin() const { return m_spotMargin; }
    [[nodiscard]] int Point1Spot() const { return m_point1Spot; }
    [[nodiscard]] int Point2Spot() const { return m_point2Spot; }
    [[nodiscard]] int BarValue() const { return m_barValue; }
    [[nodiscard]] int PeakSpot() const { return m_peakSpot; }
    [[nodiscard]] int PeakHold() const { return m_peakHold; }
    [[nodiscard]] bool NeedsRepaint() const { return m_needsRepaint; }
    [[nodiscard]] int LastLevel() const { return m_lastLevel; }
    [[nodiscard]] float DecayLevel() const { return m_decayLevel; }
    [[nodiscard]] float DecayFactor() const { return m_decayFactor; }
    [[nodiscard]] int RingLength() const { return m_ringLength; }
    [[nodiscard]] int RingCount() const { return m_ringCount; }
    [[nodiscard]] bool HasPeakTimer() const { return m_peakTimer != nullptr; }
    [[nodiscard]] const TMMDIBCanvas &BackgroundImage() const { return m_background; }
    // Zone (1, 2, 3) of spot k, and its rectangle in the inner area.
    [[nodiscard]] int SpotZone(int k) const;
    [[nodiscard]] QRect SpotRect(int k) const;
    // Number of immediate bar drawings so far (for tests and the benchmark).
    [[nodiscard]] long long ImmediateDraws() const { return m_immediateDraws; }

protected:
    void paintEvent(QPaintEvent *e) override;
    void resizeEvent(QResizeEvent *e) override;
    void Changed() override;

private:
    static int zoneIndex(int zone) { return zone < 1 ? 0 : zone > 3 ? 2 : zone - 1; }
    void LayoutSpots();
    void RenderBackground();
    // Redraws the work image (background copy, then lit spots and marker).
    void RenderBar();
    void DrawSpots();
    void recomputeBlockBytes();
    void updatePeakTimer();
    [[nodiscard]] bool canDrawNow() const;

    bool m_enabled = true;
    TMMLevelKind m_kind = lkHorizontal;
    TMMLevelDirection m_direction = dirNormal;
    QColor m_color = QColor(0, 0, 0);
    int m_spotWidth = 1;
    int m_spotSpace = 1;
    std::array<QColor, 3> m_barColor{QColor(0, 255, 255), QColor(0, 255, 255), QColor(255, 0, 0)};
    std::array<QColor, 3> m_inactiveColor{QColor(0, 128, 128), QColor(0, 128, 128),
                                          QColor(128, 0, 0)};
    bool m_activeDoted = false;
    bool m_inactiveDoted = false;
    int m_point1 = 50;
    int m_point2 = 85;
    TMMBits m_bitLength = b8Bit;
    TMMMode m_mode = mMono;
    TMMChannel m_channel = chBoth;
    int m_samples = 50;
    int m_gain = 0;
    int m_sensitivy = -35;
    bool m_logAmp = true;
    int m_numPeaks = 1;
    // Read by PeakTick on the timer thread.
    std::atomic<int> m_peakDelay{20};
    std::atomic<int> m_peakSpeed{0};
    TMMDecayMode m_decayMode = dmNone;
    int m_decay = 1;
    int m_offL = 0;
    int m_offR = 0;
    DrawBarEvent m_onDrawBar;

    QRect m_innerRect;
    int m_numSpots = 1;
    int m_spotMargin = 0;
    int m_point1Spot = 0;
    int m_point2Spot = 0;
    int m_barValue = 0;
    std::atomic<int> m_peakSpot{0};
    std::atomic<int> m_peakHold{0};
    std::atomic<bool> m_needsRepaint{false};
    int m_lastLevel = 0;
    static constexpr int kFullScale = 32767;
    int m_gainFactor = 8;
    int m_blockBytes = 50;
    float m_decayLevel = 0.0f;
    float m_decayFactor = 0.01f;
    int m_ringLength = 1;
    int m_ringPos = 0;
    int m_ringCount = 0;
    int m_ringSum = 0;
    std::array<int, 32> m_ring{};

    TMMDIBCanvas m_background;
    TimerClient *m_peakTimer = nullptr;
    bool m_peakSuspended = false;
    bool m_drawingImmediately = false;
    long long m_immediateDraws = 0;
};

// The meter as the windows use it.
class TMMLevel : public TMMCustomLevel
{
    Q_OBJECT
public:
    explicit TMMLevel(QWidget *parent = nullptr) : TMMCustomLevel(parent) {}
};

// The layout settings of the test window's meters mlvl1 (chLeft) and mlvl2
// (chRight): 131 x 9 with a 1-pixel lowered bevel, zones at 50 % and 75 %,
// 16-bit stereo blocks of 99 frames, a 2-spot peak marker falling a spot
// per tick, step-up decay 9. Position and visibility are the window's.
void layoutAnswerMeter(TMMLevel &meter, TMMChannel channel);
