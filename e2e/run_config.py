"""The settings of one run.py invocation, from its command line or from make_run.py."""

import dataclasses
import os

from qemu import PLAIN_CODE, SECURE_CODE

REPOSITORY = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEFAULT_BUILD_DIR = os.path.join(REPOSITORY, "build", "image")  # the Makefile's image build (BUILD=build)
DEFAULT_TIMEOUT_S = 180.0


@dataclasses.dataclass
class RunConfig:
    build_dir: str = DEFAULT_BUILD_DIR  # holds notice.efi and e2e/app/notice-e2e.efi
    driver: str = None  # default: BUILD_DIR/notice.efi
    app: str = None  # default: BUILD_DIR/e2e/app/notice-e2e.efi
    scenarios: tuple = ()  # names to run, in order
    code: str = PLAIN_CODE  # firmware code image for Secure Boot off
    secure_code: str = SECURE_CODE  # and for Secure Boot on
    driver_in_firmware: bool = False  # the firmware images carry the driver and pictures
    notice_pack: str = None  # with driver_in_firmware: build each scenario's image with it
    firmware_cache: str = None  # where built images are kept (default: BUILD_DIR/firmware-images)
    notice_sim: str = None  # also play every run on notice-sim and compare
    show_serial: bool = False
    timeout: float = DEFAULT_TIMEOUT_S  # hard limit per QEMU run in seconds
    workdir: str = None  # where run files go (default: a fresh temporary directory)
    demo_pictures: str = None  # pictures to pack instead of the test pictures
    screen: str = ""  # WxH display resolution; empty: QEMU's standard VGA

    def absolute(self):
        """The same settings with every path absolute (QEMU runs in each scenario's folder) and the driver and
        application defaults filled in."""
        paths = {
            field: os.path.abspath(getattr(self, field))
            for field in (
                "build_dir",
                "driver",
                "app",
                "code",
                "secure_code",
                "notice_pack",
                "firmware_cache",
                "notice_sim",
                "demo_pictures",
                "workdir",
            )
            if getattr(self, field)
        }
        config = dataclasses.replace(self, **paths)
        return dataclasses.replace(
            config,
            driver=config.driver or os.path.join(config.build_dir, "notice.efi"),
            app=config.app or os.path.join(config.build_dir, "e2e", "app", "notice-e2e.efi"),
            firmware_cache=config.firmware_cache or os.path.join(config.build_dir, "firmware-images"),
        )
