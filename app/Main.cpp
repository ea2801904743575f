// The one application object; the framework's WinMain runs it.
#include "app/ConverterApp.h"

CConverterApp theApp;
