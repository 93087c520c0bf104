// The empty program the layer checks link a whole layer into; it is never run.
int main() { return 0; }
