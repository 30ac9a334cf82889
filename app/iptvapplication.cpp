#include "iptvapplication.h"

IptvApplication::IptvApplication(int &argc, char **argv)
    : QApplication(argc, argv)
{
}
