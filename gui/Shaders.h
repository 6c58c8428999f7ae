// GLSL programs through the ARB shader-object extensions: the lit knob (vertex and fragment)
// and the lit background (fragment only). Render task, GL context current.
#pragma once

#include <string>

namespace TB {

struct ShaderProgram {
    unsigned int vertex = 0, fragment = 0, program = 0;  // 0 when none
    bool linked = false;
    std::string log;  // the compile and link info logs, for diagnostics
};

// Whether the GL offers ARB vertex and fragment shaders and multitexturing.
bool ShadersAvailable();
// Compiles the given stages (null for none), attaches and links. A stage that fails to compile
// or a program that fails to link prints one line with the info log; the handles are kept as
// made either way (the caller deletes them with DeleteProgram).
ShaderProgram BuildProgram(const char* vertexSource, const char* fragmentSource);
void DeleteProgram(ShaderProgram& program);

extern const char* const kKnobVertexShader;
extern const char* const kKnobFragmentShader;
extern const char* const kBackgroundFragmentShader;

}  // namespace TB
