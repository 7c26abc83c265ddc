#include "Application.h"

int main(int argc, char** argv)
{
    return zrpMain(argc, argv);
}
