"""python -m tavrix_equity: the tavrix-equity command."""

import sys

from tavrix_equity.cli import main

if __name__ == "__main__":
    sys.exit(main())
