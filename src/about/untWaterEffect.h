#pragma once

#include <QImage>

#include <cstdint>
#include <functional>
#include <vector>

// Pseudo-random integer from 0 to n - 1 (0 when n <= 0), shared by the
// ripple's random drops and the About window's timer. Tests replace the
// source with setRandomSource to make draws predictable; an empty function
// restores the default generator. UI thread only.
[[nodiscard]] int Random(int n);
void setRandomSource(std::function<int(int n)> source);

// A water surface, one cell per picture pixel, simulated with two integer
// height fields and drawn as a refraction of a source picture. All
// arithmetic is 32-bit integer with division truncating towards zero; rows
// are reached through row tables so that the inner loops never multiply.
// UI thread only.
class TWaterEffect
{
public:
    TWaterEffect() = default;
    TWaterEffect(const TWaterEffect &) = delete;
    TWaterEffect &operator=(const TWaterEffect &) = delete;

    // A size of 0 or less in either direction gives an empty surface.
    void SetSize(int Width, int Height);
    void ClearWater();
    // Adds a disc of Height to Current, clipped to the surface. A coordinate
    // outside the surface is replaced by a random one that keeps the whole
    // disc inside.
    void Blob(int X, int Y, int Radius, int Height);
    // One simulation step; afterwards the field just written is Current.
    void CalcWater();
    // Draws Source refracted through Current into Target. Both pictures are
    // switched to 24 bits per pixel first and must cover the surface.
    void DrawWater(QImage &Source, QImage &Target);
    void Render(QImage &Source, QImage &Target);

    [[nodiscard]] int Width() const { return m_width; }
    [[nodiscard]] int Height() const { return m_height; }
    [[nodiscard]] std::uint8_t Damping() const { return m_damping; }
    // Height of cell (x, y) of the newest field; no range check.
    [[nodiscard]] std::int32_t height(int x, int y) const { return m_currentRows[y][x]; }
    [[nodiscard]] std::int32_t previousHeight(int x, int y) const { return m_previousRows[y][x]; }
    // Sets a cell of the newest or the older field (tests build states).
    void setHeight(int x, int y, std::int32_t h) { m_currentRows[y][x] = h; }
    void setPreviousHeight(int x, int y, std::int32_t h) { m_previousRows[y][x] = h; }

private:
    int m_width = 0;
    int m_height = 0;
    std::uint8_t m_damping = 20;
    // The two fields own their cells; the row tables point into whichever
    // field currently plays each role, so the swap exchanges tables only.
    std::vector<std::int32_t> m_fieldA;
    std::vector<std::int32_t> m_fieldB;
    std::vector<std::int32_t *> m_currentRows;
    std::vector<std::int32_t *> m_previousRows;
    std::vector<const std::uint8_t *> m_sourceRows;
    std::vector<std::uint8_t *> m_targetRows;
};
