#include "tiffwrite/sif_f.h"

namespace pv {

char SIF_F_form[2048] = "%lf\t%lf";
char SIF_F_desc[2048] = {};
double SIF_F_min = 0;
double SIF_F_max = 0;

}  // namespace pv
