#include "app/startup.h"

int main(int argc, char *argv[])
{
    return Varnel::runApplication(argc, argv);
}
