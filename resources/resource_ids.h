#pragma once
#define IDI_KESTRELMARK 101
