// Entry point of the player. The start-up order lives in RunTavelo.
int RunTavelo(int argc, char** argv);

int main(int argc, char** argv) { return RunTavelo(argc, argv); }
