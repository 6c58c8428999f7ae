// What the user reads about the thing under the mouse: the read-out line at the banner, the
// floating tooltip that repeats it, and parameter values as text. The drawing runs on the
// render task in the 2D pass; FormatParamValue may run on any thread.
#include <cstdio>
#include <cstring>

#include "gui/Font.h"
#include "gui/GL.h"
#include "gui/Manager.h"
#include "gui/UIElement.h"
#include "hostframework/AUParameterServices.h"
#include "hostframework/CFLite.h"

namespace TB {

namespace {

// Copies at most 63 characters, as the value strings and tags are shown.
void CopyShort(char* out, const char* text) { std::snprintf(out, 64, "%.63s", text); }

void Append(char* out, size_t size, const char* text) {
    const size_t used = std::strlen(out);
    if (used + 1 < size) std::snprintf(out + used, size - used, " %s", text);
}

void BlendedQuad(float x0, float y0, float x1, float y1, const Vec4& c) {
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glColor4f(c.x, c.y, c.z, c.w);
    glBegin(GL_QUADS);
    glVertex2f(x0, y0), glVertex2f(x1, y0), glVertex2f(x1, y1), glVertex2f(x0, y1);
    glEnd();
    glDisable(GL_BLEND);
}

}  // namespace

void Manager::FormatParamValue(const CAAUParameter& p, char* out) {
    const Float32 value = p.GetValue();
    if (p.GetNumIndexedParams() > 0 && p.HasNamedParams()) {
        const int index = int(value);
        if (index >= 0 && index < p.GetNumIndexedParams() && index < int(p.ValueStrings().size())) {
            CopyShort(out, p.ValueStrings()[index].c_str());
            return;
        }
    }
    if (p.Flags() & kAudioUnitParameterFlag_ValuesHaveStrings) {
        AudioUnitParameterStringFromValue request{p.mParameterID, &value, nullptr};
        UInt32 size = sizeof request;
        if (p.mAudioUnit &&
            AudioUnitGetProperty(p.mAudioUnit, kAudioUnitProperty_ParameterStringFromValue, p.mScope, 0, &request,
                                 &size) == noErr &&
            request.outString != nullptr) {
            char text[256];
            const bool ok = CFStringGetCString(request.outString, text, sizeof text, kCFStringEncodingUTF8);
            CFRelease(request.outString);
            if (ok) {
                CopyShort(out, text);
                return;
            }
        }
    }
    if (p.Unit() == kAudioUnitParameterUnit_Boolean) {
        std::strcpy(out, value != 0 ? "On" : "Off");
        return;
    }
    AUParameterFormatValue(value, &p, out, 4);
}

void Manager::DrawParamValue(Font* font, int id, float x, float y, char* out) {
    const CAAUParameter* found = FindParameter(id);
    const CAAUParameter p = found ? CAAUParameter() : GetParameter(id);  // a copy only outside the table
    const CAAUParameter& param = found ? *found : p;
    float valueX = x + 150;
    const char* name = param.GetName();
    font->Draw(name, valueX - 10 - font->GetStringWidth(name), y);
    if (out) std::snprintf(out, kReadoutTextSize, "%s", name);

    char value[kValueTextSize];
    FormatParamValue(param, value);
    font->Draw(value, valueX, y);
    if (out) Append(out, kReadoutTextSize, value);

    float unitX = valueX + 40;
    ExtendParamValue(font, id, unitX, y, out);
    const char* tag = param.GetParamTag();
    if (tag && param.Unit() != kAudioUnitParameterUnit_MIDINoteNumber && param.Unit() != kAudioUnitParameterUnit_Boolean) {
        char shortTag[64];
        CopyShort(shortTag, tag);
        font->Draw(shortTag, unitX, y);
        if (out) Append(out, kReadoutTextSize, shortTag);
    }
}

void Manager::ExtendParamValue(Font*, int, float&, float&, char*&) {}

// Leaves this frame's read-out text in m_readoutText (empty when there is none) for the tooltip.
void Manager::DrawReadout() {
    m_readoutText[0] = 0;
    m_readoutHalfLine = 0;
    Font* font = m_mainFont;
    if (font == nullptr) return;
    const float x = m_bannerVisible ? m_width / 2.0f + 15 : 25;
    const float h = 0.5f * font->LineHeight();
    m_readoutHalfLine = h;
    BlendedQuad(20, m_bannerY, m_width - 20.0f, m_bannerY + h, m_readoutStripColour);
    const float baseline = m_bannerY - 0.5f * font->Descender();
    glColor4f(m_bannerTextColour.x, m_bannerTextColour.y, m_bannerTextColour.z, m_bannerTextColour.w);

    const int editing = EditingParam(), over = MouseOverParam();
    const int id = editing >= 0 ? editing : over;
    if (id >= 0) {
        DrawParamValue(font, id, x, baseline,
                       ms_enableTooltip.load(std::memory_order_relaxed) ? m_readoutText : nullptr);
    } else if (over <= -2) {
        if (over != m_cachedHelpID) {
            m_cachedHelpID = over;
            m_cachedHelpText = HelpString(over);
        }
        if (m_cachedHelpText) {
            font->Draw(m_cachedHelpText->c_str(), x + 100, baseline);
            std::snprintf(m_readoutText, sizeof m_readoutText, "%s", m_cachedHelpText->c_str());
        }
    }
}

void Manager::DrawTooltip() {
    Font* font = m_mainFont;
    if (font == nullptr || !ms_enableTooltip.load(std::memory_order_relaxed)) return;
    UIElement* anchor = TooltipElement();
    if (anchor && m_readoutText[0]) {
        m_tooltipAlpha = 0.84f * m_tooltipAlpha + 0.16f;
        std::memcpy(m_tooltipText, m_readoutText, sizeof m_tooltipText);
        m_tooltipWidth = font->GetStringWidth(m_tooltipText);
        Bounds b;
        anchor->GetWorldBounds(b);
        m_tooltipX = b.CentreX() - m_tooltipWidth / 2;
        if (m_tooltipX < 5) m_tooltipX = 5;
        if (m_tooltipX > m_width - m_tooltipWidth - 5) m_tooltipX = m_width - m_tooltipWidth - 5;
        m_tooltipY = b.CentreY();
        m_tooltipHeight = m_readoutHalfLine;
    } else {
        m_tooltipAlpha *= 0.89f;
        if (m_tooltipAlpha < 1.0f / 255) m_tooltipAlpha = 0;
    }
    if (m_tooltipAlpha <= 0) return;
    BlendedQuad(m_tooltipX - 5, m_tooltipY, m_tooltipX + m_tooltipWidth + 5, m_tooltipY + m_tooltipHeight,
                Vec4{0.7f, 0.7f, 0.7f, 0.5f * m_tooltipAlpha});
    glColor4f(0.8f, 0.8f, 0.8f, 0.9f * m_tooltipAlpha);
    font->Draw(m_tooltipText, m_tooltipX, m_tooltipY - 0.5f * font->Descender());
}

}  // namespace TB
