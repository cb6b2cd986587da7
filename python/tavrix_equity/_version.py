"""The version of the tavrix-equity distribution."""

__version__ = "0.2.0"
