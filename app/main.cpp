#include "startup.h"

int main(int argc, char *argv[])
{
    return iptvMain(argc, argv);
}
