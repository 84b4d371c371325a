#include "chip.h"

std::unique_ptr<sim_chip> sim_make_jedec_chip(const std::string &, const std::string &, std::string &err)
{
    err = "fuse-map chips are not available yet";
    return nullptr;
}
