// The toolkit's one way in to OpenGL: GLEW's entry points (which must come before gl.h) and GLU.
// Every GL call of the toolkit runs on a manager's render task with its context current.
#pragma once

#include <GL/glew.h>
#include <GL/glu.h>
