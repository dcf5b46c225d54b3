#pragma once
// A settings struct built in one expression: with<SimFaults>([](auto &f) { f.stallStream = true; }).
template<class T, class F> T with(F set) { T value; set(value); return value; }
