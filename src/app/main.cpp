#include "app/zapum_app.h"

int main(int argc, char *argv[])
{
    return zapum::runZaPum(argc, argv);
}
