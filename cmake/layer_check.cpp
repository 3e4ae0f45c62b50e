// The program of a layer's link check (CMakeLists.txt): it does nothing,
// what matters is that every object of the layer links into it.
int main() { return 0; }
