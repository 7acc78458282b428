"""Main job: shows that the module loads and logs."""

import pytav


def main() -> None:
    print(f"pytav {pytav.get_version()}")
    pytav.log_info("pytav demo: module loaded")


if __name__ == "__main__":
    main()
