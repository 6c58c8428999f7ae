// Plain geometry records of the toolkit: colours, points and axis-aligned bounds.
#pragma once

#include <algorithm>
#include <atomic>

// A point in window pixels, origin at the bottom-left, y upwards (as the view delivers it).
struct CGPoint {
    double x;
    double y;
};

namespace TB {

// Four floats: an RGBA colour or a light position.
struct Vec4 {
    float x, y, z, w;
};

// A colour that the UI thread writes and the render task reads without a lock: four relaxed
// atomic floats, so either side sees each component whole.
class SharedVec4 {
public:
    explicit SharedVec4(const Vec4& v = {0, 0, 0, 0}) { Store(v); }
    Vec4 Load() const {
        return {m_c[0].load(std::memory_order_relaxed), m_c[1].load(std::memory_order_relaxed),
                m_c[2].load(std::memory_order_relaxed), m_c[3].load(std::memory_order_relaxed)};
    }
    void Store(const Vec4& v) {
        m_c[0].store(v.x, std::memory_order_relaxed);
        m_c[1].store(v.y, std::memory_order_relaxed);
        m_c[2].store(v.z, std::memory_order_relaxed);
        m_c[3].store(v.w, std::memory_order_relaxed);
    }

private:
    std::atomic<float> m_c[4];
};

// min (x, y, z) and max (x, y, z). The empty bounds has min 1e10 and max -1e10 everywhere, so
// the union with anything is that thing.
struct Bounds {
    float min[3] = {1e10f, 1e10f, 1e10f};
    float max[3] = {-1e10f, -1e10f, -1e10f};

    static Bounds Rect(float x0, float y0, float x1, float y1) {
        Bounds b;
        b.min[0] = x0, b.min[1] = y0, b.min[2] = 0;
        b.max[0] = x1, b.max[1] = y1, b.max[2] = 0;
        return b;
    }
    void Union(const Bounds& o) {
        for (int i = 0; i < 3; ++i) {
            min[i] = std::min(min[i], o.min[i]);
            max[i] = std::max(max[i], o.max[i]);
        }
    }
    void Translate(float dx, float dy, float dz) {
        min[0] += dx, min[1] += dy, min[2] += dz;
        max[0] += dx, max[1] += dy, max[2] += dz;
    }
    // Inclusive on all four edges; z is ignored.
    bool Contains(double x, double y) const { return x >= min[0] && x <= max[0] && y >= min[1] && y <= max[1]; }
    float Width() const { return max[0] - min[0]; }
    float Height() const { return max[1] - min[1]; }
    float CentreX() const { return 0.5f * (min[0] + max[0]); }
    float CentreY() const { return 0.5f * (min[1] + max[1]); }
};

// Bounds that the render task writes (a named group's FinalPosition) and the UI thread reads
// (hit tests) without a lock: six relaxed atomic floats.
class SharedBounds {
public:
    SharedBounds() { Store(Bounds()); }
    Bounds Load() const {
        Bounds b;
        for (int i = 0; i < 3; ++i) {
            b.min[i] = m_min[i].load(std::memory_order_relaxed);
            b.max[i] = m_max[i].load(std::memory_order_relaxed);
        }
        return b;
    }
    void Store(const Bounds& b) {
        for (int i = 0; i < 3; ++i) {
            m_min[i].store(b.min[i], std::memory_order_relaxed);
            m_max[i].store(b.max[i], std::memory_order_relaxed);
        }
    }

private:
    std::atomic<float> m_min[3], m_max[3];
};

}  // namespace TB
