#include "driver/run_demo.hpp"

int main()
{
    return runDemo();
}
