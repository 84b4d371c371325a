#include "report.h"

#include <cstdio>
#include <memory>
#include <vector>

#include "analyze.h"
#include "cupl.h"
#include "summary.h"

bool warn_unreproduced(const dump_analysis &a, equation_check &check, const char *filename)
{
    const std::array<uint32_t, NUM_BX> wrong = count_wrong(a, check);
    bool warned = false;
    for (int k = NUM_BX - 1; k >= 0; k--) {
        if (!wrong[k])
            continue;
        std::fprintf(stderr, "Warning: the printed equations do not reproduce `%s': %s (pin %d) has %lu wrong %s.\n",
                     filename, bx_name(k).c_str(), pin_number[BX_SIGNAL0 + k], static_cast<unsigned long>(wrong[k]),
                     wrong[k] == 1 ? "reading" : "readings");
        warned = true;
    }
    if (warned)
        std::fputs("Warning: the chip may hold state (registered outputs, latches), or the dump may be noise; "
                   "`gatesweep-check' shows where the equations fail.\n",
                   stderr);
    return warned;
}

bool analyze_pal(const char *filename)
{
    std::unique_ptr<const dump_analysis> a;
    {
        // The image is copied into the analysis and goes before the writer's
        // scratch comes.
        std::vector<uint8_t> image;
        if (!load_dump(filename, image))
            return false;
        warn_implausible_dump(image, filename);
        a = analyse_dump(image);
    }
    print_summary(stdout, *a, filename);
    term_table table = new_term_table();
    equation_check check = new_equation_check(*a);
    write_cupl(stdout, *a, filename, table, &check);
    warn_unreproduced(*a, check, filename);
    return true;
}
