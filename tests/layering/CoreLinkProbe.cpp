// Links a set of libraries and uses none: its dynamic section lists what
// they bring in (see check_core_links.sh).
int main() { return 0; }
