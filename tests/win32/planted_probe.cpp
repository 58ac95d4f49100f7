// A DLL that only the test programs' own folder holds: what a DLL planted
// beside a program looks like to its search.
extern "C" __declspec(dllexport) int planted_probe() { return 1; }
