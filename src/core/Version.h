#pragma once
// The program's version, set once by the build (the project version in the top CMakeLists.txt).

const char* ProgramVersion();
