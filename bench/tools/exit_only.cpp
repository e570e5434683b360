// A program that does nothing but exit through the C library: built once per
// linkage (static, static PIE, dynamic like the exporter), it shows what
// starting a process of that kind costs on the machine (bench/evtx_speed.sh).
int main() { return 0; }
