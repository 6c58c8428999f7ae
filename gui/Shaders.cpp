#include "gui/Shaders.h"

#include "gui/GL.h"
#include "hostframework/Log.h"

namespace TB {

// The knob: its normal map turned with the knob (the vertex normal carries the rotation), lit
// by the highlight light (GL light 1), positions in window pixels.
const char* const kKnobVertexShader = R"(
varying vec2 uv;
varying vec4 lightDir;
varying vec3 hv;
varying mat3 normMat;
void main() {
    gl_Position = ftransform();
    uv = gl_MultiTexCoord0.xy;
    vec3 n = gl_Normal;
    normMat = mat3(vec3(n.x, n.y, 0.0), vec3(-n.y, n.x, 0.0), vec3(0.0, 0.0, 1.0));
    vec3 lightVec = gl_LightSource[1].position.xyz - gl_Vertex.xyz;
    lightDir = vec4(normalize(lightVec), length(lightVec));
    hv = normalize(lightDir.xyz + vec3(0.0, 0.0, 1.0));
}
)";

const char* const kKnobFragmentShader = R"(
uniform sampler2D tex;
uniform sampler2D normalMap;
varying vec2 uv;
varying vec4 lightDir;
varying vec3 hv;
varying mat3 normMat;
void main() {
    vec4 diffuse = texture2D(tex, uv);
    vec3 n = texture2D(normalMap, uv).xyz * 2.0 - 1.0;
    n = normMat * n;
    float d = 300.0 * max(0.0, dot(n, lightDir.xyz)) / (300.0 + lightDir.w) + 0.4;
    float s = 0.5 * pow(max(0.0, dot(n, hv)), 10.0);
    gl_FragColor = vec4(diffuse.rgb * d + vec3(0.2, 0.8, 0.2) * s, diffuse.a);
}
)";

// The background: the labels layer lit through a normal map repeated 16 x 8 times over the
// 1024 x 512 layer; pixels with alpha of 0.16 or more (labels, banner strip) stay unlit.
const char* const kBackgroundFragmentShader = R"(
uniform sampler2D tex;
uniform sampler2D normalMap;
uniform float viewportH;
void main() {
    vec2 st = gl_TexCoord[0].st;
    vec4 diffuse = texture2D(tex, st);
    vec3 n = texture2D(normalMap, vec2(16.0 * st.s, 8.0 * st.t)).xyz * 2.0 - 1.0;
    vec3 pos = vec3(1024.0 * st.s, viewportH - 512.0 * st.t, 0.0);
    vec3 lightVec = gl_LightSource[1].position.xyz - pos;
    vec3 lightDir = normalize(lightVec);
    float d = 300.0 * max(0.0, dot(n, lightDir)) / (300.0 + length(lightVec)) + 0.2;
    float label = min(1.0, diffuse.a / 0.16);
    float ilabel = 1.0 - label;
    d = d * ilabel + label;
    vec3 hv = normalize(lightDir + vec3(0.0, 0.0, 1.0));
    float s = 0.5 * pow(max(0.0, dot(n, hv)), 30.0) * ilabel;
    gl_FragColor = vec4(diffuse.rgb * d + vec3(0.8, 0.2, 0.2) * s, diffuse.a);
}
)";

namespace {

std::string InfoLog(GLhandleARB object) {
    GLint length = 0;
    glGetObjectParameterivARB(object, GL_OBJECT_INFO_LOG_LENGTH_ARB, &length);
    if (length <= 1) return {};
    std::string log(size_t(length), '\0');
    glGetInfoLogARB(object, length, nullptr, log.data());
    log.resize(log.find('\0') == std::string::npos ? log.size() : log.find('\0'));
    return log;
}

GLhandleARB Compile(GLenum type, const char* source, std::string* log) {
    GLhandleARB shader = glCreateShaderObjectARB(type);
    glShaderSourceARB(shader, 1, &source, nullptr);
    glCompileShaderARB(shader);
    GLint ok = 0;
    glGetObjectParameterivARB(shader, GL_OBJECT_COMPILE_STATUS_ARB, &ok);
    const std::string info = InfoLog(shader);
    if (log) *log += info;
    if (!ok) LogFormat(LogLevel::kError, "shader did not compile: %s\n", info.c_str());
    return shader;
}

}  // namespace

bool ShadersAvailable() { return GLEW_ARB_vertex_shader && GLEW_ARB_fragment_shader && GLEW_ARB_multitexture; }

ShaderProgram BuildProgram(const char* vertexSource, const char* fragmentSource) {
    ShaderProgram p;
    if (!ShadersAvailable()) return p;
    if (vertexSource) p.vertex = Compile(GL_VERTEX_SHADER_ARB, vertexSource, &p.log);
    if (fragmentSource) p.fragment = Compile(GL_FRAGMENT_SHADER_ARB, fragmentSource, &p.log);
    p.program = glCreateProgramObjectARB();
    if (p.vertex) glAttachObjectARB(p.program, p.vertex);
    if (p.fragment) glAttachObjectARB(p.program, p.fragment);
    glLinkProgramARB(p.program);
    const std::string info = InfoLog(p.program);
    p.log += info;
    GLint ok = 0;
    glGetObjectParameterivARB(p.program, GL_OBJECT_LINK_STATUS_ARB, &ok);
    p.linked = ok != 0;
    if (!p.linked) LogFormat(LogLevel::kError, "shader program did not link: %s\n", info.c_str());
    return p;
}

void DeleteProgram(ShaderProgram& p) {
    if (p.program == 0) return;
    if (p.vertex) glDetachObjectARB(p.program, p.vertex), glDeleteObjectARB(p.vertex);
    if (p.fragment) glDetachObjectARB(p.program, p.fragment), glDeleteObjectARB(p.fragment);
    glDeleteObjectARB(p.program);
    p = ShaderProgram{};
}

}  // namespace TB
