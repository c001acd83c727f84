// The start-up floor: a process that does nothing at all, linked like the tool. No run
// of the tool can be faster than this program's, so bench/run prints it beside them.
int main() { return 0; }
