#include "skerrin.h"

int main(int narg, char **argp)
{
	return skerrin_main(narg, argp);
}
