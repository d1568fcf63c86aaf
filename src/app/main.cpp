// Punchlet's entry point (the job pipeline is wired up in mainwindow1.cpp).
int main() { return 0; }
