#include "apps/Listings.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "apps/UnitHost.h"
#include "effect/MarrowfinParameters.h"

namespace MarrowfinApp {

namespace {

// The shortest decimal text that reads back as the same 32-bit float.
std::string Number(Float32 v) {
    if (!std::isfinite(v)) return "null";
    if (v == std::trunc(v) && std::fabs(v) < 1e7f) return std::to_string(long(v));
    char buffer[32];
    for (int precision = 1; precision <= 9; ++precision) {
        std::snprintf(buffer, sizeof buffer, "%.*g", precision, double(v));
        if (std::strtof(buffer, nullptr) == v) break;
    }
    return buffer;
}

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    char esc[8];
                    std::snprintf(esc, sizeof esc, "\\u%04x", c);
                    out += esc;
                } else {
                    out += char(c);
                }
        }
    }
    return out + "\"";
}

std::string Padded(const std::string& s, size_t width) { return s.size() >= width ? s : s + std::string(width - s.size(), ' '); }
std::string Right(const std::string& s, size_t width) { return s.size() >= width ? s : std::string(width - s.size(), ' ') + s; }

}  // namespace

void ListParameters(UnitHost& host, bool json, std::ostream& out) {
    const auto& params = host.Parameters();
    if (json) {
        out << "[\n";
        for (size_t i = 0; i < params.size(); ++i) {
            const ParamDesc& p = params[i];
            out << "  {\"id\": " << p.id << ", \"name\": " << JsonString(p.name) << ", \"unit\": " << p.unit
                << ", \"unitName\": " << JsonString(ParamUnitName(p.unit)) << ", \"min\": " << Number(p.minValue)
                << ", \"max\": " << Number(p.maxValue) << ", \"default\": " << Number(p.defaultValue)
                << ", \"valueNames\": [";
            const auto names = host.ValueNames(p);
            for (size_t k = 0; k < names.size(); ++k)
                out << (k ? ", " : "") << "{\"value\": " << Number(names[k].first)
                    << ", \"name\": " << JsonString(names[k].second) << "}";
            out << "]}" << (i + 1 < params.size() ? "," : "") << "\n";
        }
        out << "]\n";
        return;
    }
    out << " id  " << Padded("name", 24) << Padded("unit", 16) << Right("min", 8) << Right("max", 8)
        << Right("default", 9) << "  value names\n";
    for (const ParamDesc& p : params) {
        std::string unit = std::string(ParamUnitName(p.unit));
        unit = (unit.empty() ? std::string("generic") : unit) + " (" + std::to_string(p.unit) + ")";
        std::string names;
        for (const auto& [value, name] : host.ValueNames(p)) names += (names.empty() ? "" : ", ") + Number(value) + "=" + name;
        out << Right(std::to_string(p.id), 3) << "  " << Padded(p.name, 24) << Padded(unit, 16)
            << Right(Number(p.minValue), 8) << Right(Number(p.maxValue), 8) << Right(Number(p.defaultValue), 9)
            << (names.empty() ? "" : "  " + names) << "\n";
    }
}

void ListPresets(UnitHost& host, bool json, std::ostream& out) {
    const auto presets = host.FactoryPresets();
    const auto& params = host.Parameters();
    if (json) out << "[\n";
    for (size_t i = 0; i < presets.size(); ++i) {
        const auto& [number, name] = presets[i];
        host.ChoosePreset(number);
        if (json) {
            out << "  {\"number\": " << number << ", \"name\": " << JsonString(name) << ", \"values\": [";
            for (size_t k = 0; k < params.size(); ++k) out << (k ? ", " : "") << Number(host.GetParameter(params[k].id));
            out << "]}" << (i + 1 < presets.size() ? "," : "") << "\n";
        } else {
            out << number << "  " << name << "\n";
            for (const ParamDesc& p : params)
                out << "      " << Right(std::to_string(p.id), 2) << "  " << Padded(p.name, 24)
                    << Number(host.GetParameter(p.id)) << "\n";
        }
    }
    if (json) out << "]\n";
}

}  // namespace MarrowfinApp
