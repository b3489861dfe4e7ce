// Zorvan_Server: the gateway's window and event loop.
int main() { return 0; }
