"""python-can interface for the QvLink adapter: ``can.Bus(interface="qvlink", ...)``."""

from .bus import QvLinkBus
from .rp1210 import Rp1210Error, Rp1210Library

__all__ = ["QvLinkBus", "Rp1210Error", "Rp1210Library"]
__version__ = "1.0.0"
