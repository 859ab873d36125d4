#include "audio/MMLevel.h"

#include "audio/MMTimer.h"

#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cfenv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// Rounds to the nearest integer, halves to even, whatever rounding mode
// the rest of the program left behind.
long long roundEven(double v)
{
    const double f = std::floor(v);
    const double diff = v - f;
    long long r = static_cast<long long>(f);
    if (diff > 0.5 || (diff == 0.5 && (r & 1) != 0))
        ++r;
    return r;
}

int clampInt(long long v, int lo, int hi)
{
    return static_cast<int>(std::clamp<long long>(v, lo, hi));
}

} // namespace

// ---------------------------------------------------------------- TMMBevel

int TMMBevel::TotalWidth() const
{
    int w = BorderWidth + BorderSpace;
    if (BevelOuter != bvNone)
        w += BevelOuterWidth;
    if (BevelInner != bvNone)
        w += BevelInnerWidth;
    if (BorderStyleSingle)
        w += 1;
    return w;
}

namespace {

void frame(QPainter &p, QRect &r, int width, QColor topLeft, QColor bottomRight)
{
    for (int i = 0; i < width && r.width() > 0 && r.height() > 0; ++i) {
        p.setPen(topLeft);
        p.drawLine(r.left(), r.bottom(), r.left(), r.top());
        p.drawLine(r.left(), r.top(), r.right(), r.top());
        p.setPen(bottomRight);
        p.drawLine(r.right(), r.top() + 1, r.right(), r.bottom());
        p.drawLine(r.left() + 1, r.bottom(), r.right(), r.bottom());
        r.adjust(1, 1, -1, -1);
    }
}

void border(QPainter &p, QRect &r, int width, QColor c)
{
    frame(p, r, width, c, c);
}

} // namespace

QRect TMMBevel::Paint(QPainter &p, const QRect &outer) const
{
    QRect r = outer;
    if (BorderStyleSingle)
        border(p, r, 1, QColor(0, 0, 0));
    if (BevelOuter == bvLowered)
        frame(p, r, BevelOuterWidth, OuterShadowColor, OuterLightColor);
    else if (BevelOuter == bvRaised)
        frame(p, r, BevelOuterWidth, OuterLightColor, OuterShadowColor);
    border(p, r, BorderWidth, BorderColor);
    if (BevelInner == bvLowered)
        frame(p, r, BevelInnerWidth, InnerShadowColor, InnerLightColor);
    else if (BevelInner == bvRaised)
        frame(p, r, BevelInnerWidth, InnerLightColor, InnerShadowColor);
    border(p, r, BorderSpace, BorderSpaceColor);
    return r;
}

// ------------------------------------------------------- graphic controls

TMMGraphicControl::TMMGraphicControl(QWidget *parent) : QWidget(parent)
{
    // The control paints every pixel itself.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TMMGraphicControl::setBevel(const TMMBevel &bevel)
{
    m_bevel = bevel;
    Changed();
    update();
}

QRect TMMGraphicControl::innerRectFor(QSize size) const
{
    const int b = m_bevel.TotalWidth();
    return QRect(b, b, std::max(size.width() - 2 * b, 1), std::max(size.height() - 2 * b, 1));
}

TMMDIBGraphicControl::TMMDIBGraphicControl(QWidget *parent) : TMMGraphicControl(parent) {}

// --------------------------------------------------------- TMMCustomLevel

TMMCustomLevel::TMMCustomLevel(QWidget *parent) : TMMDIBGraphicControl(parent)
{
    resize(200, 17);
    m_innerRect = innerRectFor(size());
    recomputeBlockBytes();
    Changed();
    m_peakTimer = TimerService::RegisterTimerClient(
        TimerService::kTickMs, 0,
        [](TimerClient *, void *obj) { static_cast<TMMCustomLevel *>(obj)->PeakTick(); }, this);
}

TMMCustomLevel::~TMMCustomLevel()
{
    // After this returns no tick can call into the destroyed meter: the
    // unregistration waits for the service lock a running tick holds.
    TimerService::UnregisterTimerClient(m_peakTimer);
}

void TMMCustomLevel::SetWaveFormat(const TWaveFormatEx *f)
{
    if (!f || f->wFormatTag != WAVE_FORMAT_PCM
        || (f->wBitsPerSample != 8 && f->wBitsPerSample != 16)
        || (f->nChannels != 1 && f->nChannels != 2) || f->nSamplesPerSec < 4000
        || f->nSamplesPerSec > 100000)
        throw EMMLevelError(kInvalidWaveFormat);
    setBitLength(static_cast<TMMBits>(f->wBitsPerSample / 8 - 1));
    setMode(static_cast<TMMMode>(f->nChannels - 1));
}

void TMMCustomLevel::ProcessBlock(const void *data)
{
    if (!m_enabled || !isVisible() || !data)
        return;
    const auto *bytes = static_cast<const std::uint8_t *>(data);
    const long long offL = m_offL;
    const long long offR = m_offR;
    const bool stereo = m_mode == mStereo;
    long long amp = 0;
    if (m_bitLength == b16Bit) {
        auto s = [bytes](int i) {
            std::int16_t v;
            std::memcpy(&v, bytes + 2 * i, 2);
            return static_cast<long long>(v);
        };
        for (int i = 0; i < m_samples; ++i) {
            long long v;
            if (!stereo)
                v = s(i) + offL;
            else if (m_channel == chLeft)
                v = s(2 * i) + offL;
            else if (m_channel == chRight)
                v = s(2 * i + 1) + offR;
            else
                v = (s(2 * i) + offL + s(2 * i + 1) + offR) / 2;
            amp = std::max(amp, std::llabs(v));
        }
    } else {
        auto b = [bytes](int i) { return static_cast<long long>(bytes[i]); };
        for (int i = 0; i < m_samples; ++i) {
            long long v;
            if (!stereo)
                v = b(i) + offL - 128;
            else if (m_channel == chLeft)
                v = b(2 * i) + offL - 128;
            else if (m_channel == chRight)
                v = b(2 * i + 1) + offR - 128;
            else
                v = (b(2 * i) + offL + b(2 * i + 1) + offR) / 2 - 128;
            amp = std::max(amp, std::llabs(v * 256));
        }
    }
    // Extreme DC offsets could push the sum past 32 bits; the bar is full
    // long before that.
    const int a = clampInt(amp, 0, INT_MAX);
    if (a >= kFullScale && OnPcmOverflow)
        OnPcmOverflow(this);
    DisplayLevel(a);
}

void TMMCustomLevel::ResetData()
{
    m_peakSpot = 0;
    m_peakHold = 0;
    m_barValue = 0;
    m_lastLevel = 0;
    ResetDecay();
    {
        std::lock_guard lock(DIBDrawLock());
        RenderBar();
    }
    repaint();
}

void TMMCustomLevel::ResetDecay()
{
    m_ringPos = m_ringCount = m_ringSum = 0;
    m_decayLevel = 0.0f;
    m_ring.fill(0);
}

void TMMCustomLevel::DisplayLevel(int amplitude)
{
    long long L = std::llabs(static_cast<long long>(amplitude));
    m_lastLevel = clampInt(L, 0, INT_MAX);
    if (L == 0 && m_barValue == 0 && !m_needsRepaint)
        return;

    if (m_decayMode != dmNone) {
        if (++m_ringPos >= m_ringLength)
            m_ringPos = 0;
        m_ringCount = std::min(m_ringCount + 1, m_ringLength);
        switch (m_decayMode) {
        case dmStepUp:
            m_decayLevel = m_decayLevel * m_decayFactor;
            if (static_cast<float>(L) > m_decayLevel)
                m_decayLevel = static_cast<float>(L);
            else
                L = static_cast<long long>(m_decayLevel);
            break;
        case dmExponential:
            m_decayLevel = static_cast<float>(m_decayLevel * m_decayFactor
                                              + (1.0f - m_decayFactor) * static_cast<float>(L));
            L = static_cast<long long>(std::floor(m_decayLevel));
            break;
        case dmUniform: {
            // The ring holds 32-bit values; levels beyond that are already
            // far past the top of the bar.
            const int l32 = clampInt(L, 0, INT_MAX / 64);
            m_ringSum += l32 - m_ring[m_ringPos];
            m_ring[m_ringPos] = l32;
            L = m_ringSum / m_ringCount;
            break;
        }
        case dmNone:
            break;
        }
    }

    const int N = m_numSpots;
    const double S = m_sensitivy;
    const long long D = L * m_gainFactor / 8;
    long long spots;
    if (m_logAmp) {
        const float dB = static_cast<float>(
            20.0 * std::log10(std::max(static_cast<double>(D) / 32767.0, 0.000001)));
        spots = roundEven((static_cast<double>(dB) - S) * N / -S);
    } else {
        const float F = static_cast<float>(32767.0 / std::pow(10.0, -S / 20.0));
        spots = roundEven((static_cast<double>(D) - F) * N / (32767.0 - F));
    }
    spots = std::max(spots, 0LL);
    if (m_direction == dirSymetric)
        spots /= 2;
    if (spots > N) {
        if (OnGainOverflow)
            OnGainOverflow(this);
        spots = N;
    }
    const int sp = static_cast<int>(spots);
    if (sp >= m_peakSpot && sp > 0 && m_numPeaks > 0) {
        m_needsRepaint = true;
        m_peakSpot = sp;
        m_peakHold = m_peakDelay * 2 + 1;
    }
    if (sp == m_barValue && !m_needsRepaint)
        return;
    m_needsRepaint = false;
    m_barValue = sp;
    if (m_enabled && canDrawNow()) {
        {
            std::lock_guard lock(DIBDrawLock());
            if (OnPaint)
                OnPaint(this);
            RenderBar();
        }
        // Drawn now, not when the event loop gets round to it: the bar
        // must follow the sound block by block.
        m_drawingImmediately = true;
        repaint(m_innerRect);
        m_drawingImmediately = false;
        ++m_immediateDraws;
    }
}

void TMMCustomLevel::PeakTick()
{
    if (m_peakSpot == 0)
        return;
    if (--m_peakHold > 0)
        return;
    const int speed = m_peakSpeed;
    if (speed == 0) {
        m_peakSpot = 0;
        m_peakHold = 0;
    } else {
        m_peakSpot = m_peakSpot - 1;
        m_peakHold = speed;
    }
    m_needsRepaint = true;
}

bool TMMCustomLevel::canDrawNow() const
{
    return parentWidget() != nullptr ? isVisible() : isVisible() && isWindow();
}

// ---------------------------------------------------------------- layout

void TMMCustomLevel::Changed()
{
    m_innerRect = innerRectFor(size());
    const int len = m_kind == lkHorizontal ? m_innerRect.width() : m_innerRect.height();
    // Keep SpotWidth within its range for the new length.
    m_spotWidth = std::clamp(m_spotWidth, 1, std::max(len / 3, 1));
    m_background.SetSize(m_innerRect.width(), m_innerRect.height());
    m_work.SetSize(m_innerRect.width(), m_innerRect.height());
    LayoutSpots();
}

void TMMCustomLevel::resizeEvent(QResizeEvent *e)
{
    QWidget::resizeEvent(e);
    Changed();
    update();
}

void TMMCustomLevel::LayoutSpots()
{
    m_spotWidth = std::max(m_spotWidth, 1);
    const int len = m_kind == lkHorizontal ? m_innerRect.width() : m_innerRect.height();
    const int w = m_spotWidth;
    const int s = m_spotSpace;
    m_numSpots = std::max((len + s) / (w + s), 1);
    m_spotMargin = (len - (m_numSpots * (w + s) - s)) / 2;
    m_point1Spot = m_point1 * m_numSpots / 100;
    m_point2Spot = m_point2 * m_numSpots / 100;
    RenderBackground();
    m_peakSpot = 0;
    m_barValue = 0;
}

int TMMCustomLevel::SpotZone(int k) const
{
    if (k > m_point2Spot)
        return 3;
    if (k > m_point1Spot)
        return 2;
    return 1;
}

QRect TMMCustomLevel::SpotRect(int k) const
{
    const int w = m_spotWidth;
    const int start = m_spotMargin + (k - 1) * (w + m_spotSpace);
    const int iw = m_innerRect.width();
    const int ih = m_innerRect.height();
    if (m_kind == lkHorizontal) {
        const int x = m_direction == dirNormal ? start : iw - start - w;
        return QRect(x, 0, w, ih);
    }
    const int y = m_direction == dirNormal ? ih - start - w : start;
    return QRect(0, y, iw, w);
}

void TMMCustomLevel::RenderBackground()
{
    if (m_onDrawBar)
        return;
    std::lock_guard lock(DIBDrawLock());
    m_background.FillRect(QRect(0, 0, m_background.Width(), m_background.Height()), m_color);
    for (int k = 1; k <= m_numSpots; ++k)
        m_background.FillRect(SpotRect(k), m_inactiveColor[SpotZone(k) - 1], m_inactiveDoted);
}

void TMMCustomLevel::RenderBar()
{
    if (m_onDrawBar) {
        m_onDrawBar(this, m_work, m_peakSpot, m_barValue,
                    QRect(0, 0, m_innerRect.width(), m_innerRect.height()));
        return;
    }
    m_work.CopyFrom(m_background);
    if (m_enabled)
        DrawSpots();
}

void TMMCustomLevel::DrawSpots()
{
    const int n = m_numSpots;
    if (m_direction == dirSymetric) {
        if (m_barValue <= 0)
            return;
        const int v = std::clamp(m_barValue, 1, n);
        const QColor c = m_barColor[SpotZone(v) - 1];
        for (int k = std::max(v - 2, 1); k <= std::min(v + 2, n); ++k)
            m_work.FillRect(SpotRect(k), c, m_activeDoted);
        return;
    }
    for (int k = 1; k <= std::min(m_barValue, n); ++k)
        m_work.FillRect(SpotRect(k), m_barColor[SpotZone(k) - 1], m_activeDoted);
    const int peak = m_peakSpot;
    if (m_numPeaks > 0 && peak > m_barValue) {
        for (int k = peak; k > peak - m_numPeaks && k >= 1; --k)
            if (k <= n)
                m_work.FillRect(SpotRect(k), m_barColor[SpotZone(k) - 1], m_activeDoted);
    }
}

void TMMCustomLevel::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    if (!m_drawingImmediately) {
        m_bevel.Paint(p, rect());
        p.fillRect(m_innerRect, m_color);
        std::lock_guard lock(DIBDrawLock());
        if (OnPaint)
            OnPaint(this);
        RenderBar();
    }
    p.drawImage(m_innerRect.topLeft(), m_work.Image());
}

// ------------------------------------------------------------- properties

void TMMCustomLevel::recomputeBlockBytes()
{
    m_blockBytes = (static_cast<int>(m_bitLength) + 1) * (static_cast<int>(m_mode) + 1) * m_samples;
}

void TMMCustomLevel::updatePeakTimer()
{
    // The described rules (suspend on Enabled false and on NumPeaks 0,
    // resume on the reverse "when Enabled") can leave a counted suspension
    // behind for good, e.g. NumPeaks 0, Enabled false, NumPeaks 2, Enabled
    // true. The timer is therefore kept to exactly one suspension while
    // either reason holds.
    const bool wantSuspended = !m_enabled || m_numPeaks == 0;
    if (wantSuspended == m_peakSuspended || !m_peakTimer)
        return;
    if (wantSuspended)
        TimerService::SuspendTimerClient(m_peakTimer);
    else
        TimerService::ResumeTimerClient(m_peakTimer);
    m_peakSuspended = wantSuspended;
}

void TMMCustomLevel::setEnabled(bool on)
{
    if (on == m_enabled)
        return;
    m_enabled = on;
    QWidget::setEnabled(on);
    if (on)
        LayoutSpots();
    else
        ResetData();
    updatePeakTimer();
    update();
}

void TMMCustomLevel::setKind(TMMLevelKind kind)
{
    if (kind == m_kind)
        return;
    m_kind = kind;
    const bool horizontalLong = width() >= height();
    if ((kind == lkHorizontal) != horizontalLong)
        resize(height(), width());
    Changed();
    update();
}

void TMMCustomLevel::setDirection(TMMLevelDirection d)
{
    if (d == m_direction)
        return;
    m_direction = d;
    RenderBackground();
    update();
}

void TMMCustomLevel::setColor(QColor c)
{
    if (c == m_color)
        return;
    m_color = c;
    RenderBackground();
    update();
}

void TMMCustomLevel::setSpotWidth(int w)
{
    const int len = m_kind == lkHorizontal ? m_innerRect.width() : m_innerRect.height();
    w = std::clamp(w, 1, std::max(len / 3, 1));
    if (w == m_spotWidth)
        return;
    m_spotWidth = w;
    LayoutSpots();
    update();
}

void TMMCustomLevel::setSpotSpace(int s)
{
    s = std::clamp(s, 0, 10);
    if (s == m_spotSpace)
        return;
    m_spotSpace = s;
    LayoutSpots();
    update();
}

void TMMCustomLevel::setBarColor(int zone, QColor c)
{
    QColor &slot = m_barColor[zoneIndex(zone)];
    if (slot == c)
        return;
    slot = c;
    RenderBackground();
    update();
}

void TMMCustomLevel::setInactiveColor(int zone, QColor c)
{
    QColor &slot = m_inactiveColor[zoneIndex(zone)];
    if (slot == c)
        return;
    slot = c;
    RenderBackground();
    update();
}

void TMMCustomLevel::setActiveDoted(bool on)
{
    if (on == m_activeDoted)
        return;
    m_activeDoted = on;
    RenderBackground();
    update();
}

void TMMCustomLevel::setInactiveDoted(bool on)
{
    if (on == m_inactiveDoted)
        return;
    m_inactiveDoted = on;
    RenderBackground();
    update();
}

void TMMCustomLevel::setPoint1(int percent)
{
    percent = std::clamp(percent, 1, 100);
    if (percent == m_point1)
        return;
    m_point1 = percent;
    LayoutSpots();
    update();
}

void TMMCustomLevel::setPoint2(int percent)
{
    percent = std::clamp(percent, 1, 100);
    if (percent == m_point2)
        return;
    m_point2 = percent;
    LayoutSpots();
    update();
}

void TMMCustomLevel::setBitLength(TMMBits b)
{
    if (b == m_bitLength)
        return;
    m_bitLength = b;
    recomputeBlockBytes();
    update();
}

void TMMCustomLevel::setMode(TMMMode m)
{
    if (m == m_mode)
        return;
    m_mode = m;
    recomputeBlockBytes();
    update();
}

void TMMCustomLevel::setChannel(TMMChannel c)
{
    if (c == m_channel)
        return;
    m_channel = c;
    recomputeBlockBytes();
    update();
}

void TMMCustomLevel::setSamples(int n)
{
    n = std::max(n, 1);
    if (n == m_samples)
        return;
    m_samples = n;
    recomputeBlockBytes();
}

void TMMCustomLevel::setGain(int g)
{
    if (g < -8 || g > 32 || g == m_gain)
        return;
    m_gain = g;
    m_gainFactor = g + 8;
    update();
}

void TMMCustomLevel::setSensitivy(int dB)
{
    m_sensitivy = std::clamp(dB, -90, -9);
}

void TMMCustomLevel::setLogAmp(bool on)
{
    if (on == m_logAmp)
        return;
    m_logAmp = on;
    update();
}

void TMMCustomLevel::setNumPeaks(int n)
{
    n = std::clamp(n, 0, 5);
    if (n == m_numPeaks)
        return;
    m_numPeaks = n;
    m_peakHold = 0;
    updatePeakTimer();
    update();
}

void TMMCustomLevel::setPeakDelay(int d)
{
    d = std::clamp(d, 0, 50);
    if (d == m_peakDelay)
        return;
    m_peakDelay = d;
    m_peakHold = 0;
    update();
}

void TMMCustomLevel::setPeakSpeed(int s)
{
    s = std::clamp(s, 0, 50);
    if (s == m_peakSpeed)
        return;
    m_peakSpeed = s;
    m_peakHold = 0;
    update();
}

void TMMCustomLevel::setDecayMode(TMMDecayMode m)
{
    if (m == m_decayMode)
        return;
    m_decayMode = m;
    ResetDecay();
}

void TMMCustomLevel::setDecay(int d)
{
    d = std::clamp(d, 1, 16);
    if (d == m_decay)
        return;
    m_decay = d;
    float f = 0.0001f;
    for (int i = 0; i < d; ++i)
        f = std::sqrt(f);
    m_decayFactor = f;
    m_ringLength = std::clamp(d * 2 - 2, 1, 32);
    if (m_decayMode == dmUniform)
        ResetDecay();
}

int TMMCustomLevel::Value() const
{
    if (m_barValue == 0)
        return 0;
    if (!m_logAmp)
        return static_cast<int>(roundEven(m_barValue * 100.0 / m_numSpots));
    const double S = m_sensitivy;
    const double v =
        std::pow(10.0, (S - S * m_barValue / m_numSpots) / 20.0) * 8.0 / m_gainFactor * 100.0;
    return static_cast<int>(roundEven(v));
}

void TMMCustomLevel::setValue(int v)
{
    v = std::clamp(v, 0, 100);
    DisplayLevel(static_cast<int>(roundEven(v * 32767.0 / 100.0)));
}

void TMMCustomLevel::setBitCount(int bits)
{
    // Checked before anything changes, so a refused depth leaves both images
    // as they were.
    if (bits != 8 && bits != 24)
        throw EMMDIBError(kBitlengthNotSupported);
    if (bits == m_work.BitCount())
        return;
    {
        std::lock_guard lock(DIBDrawLock());
        m_work.SetBitCount(bits);
        m_background.SetBitCount(bits);
    }
    RenderBackground();
    {
        std::lock_guard lock(DIBDrawLock());
        RenderBar();
    }
    update();
}

void TMMCustomLevel::setOnDrawBar(DrawBarEvent handler)
{
    const bool cleared = m_onDrawBar && !handler;
    m_onDrawBar = std::move(handler);
    if (cleared)
        RenderBackground();
    update();
}

void layoutAnswerMeter(TMMLevel &m, TMMChannel channel)
{
    TMMBevel bevel;
    bevel.BevelOuter = bvLowered;
    bevel.BevelOuterWidth = 1;
    m.setBevel(bevel);
    m.resize(131, 9);
    m.setPoint1(50);
    m.setPoint2(75);
    m.setBitLength(b16Bit);
    m.setMode(mStereo);
    m.setChannel(channel);
    m.setSamples(99);
    m.setNumPeaks(2);
    m.setPeakSpeed(1);
    m.setDecayMode(dmStepUp);
    m.setDecay(9);
}
