// Resource identifiers of the Windows program, shared by the resource
// script and the window code. The controls' identifiers are the form
// layout's (shell/form_layout.h).
#pragma once

#define IDI_VI2ZEZIR 1
#define IDB_LOGO 101
